// One running copy per program, user and display: the first copy holds a
// name in Linux's abstract socket namespace and listens on it; a later copy
// asks it there to come forward, and waits for its answer.
#pragma once

#include <cstddef>

enum class InstanceClaim {
  First,      // we hold the name and listen for later copies
  Other,      // a copy runs and answered that it comes forward
  NoAnswer,   // a copy of ours holds the name but did not answer in time
  Unguarded,  // the guard cannot be had here: run without it
};

// Identity is any text; copies with the same identity exclude each other. A
// later copy passes on the activation token (null for none) that its
// launcher gave it, which the first copy may need to be let to the front.
// Ends within a few seconds whatever the running copy does; NoAnswer and
// Unguarded have been reported on stderr.
InstanceClaim ClaimInstance(const char* identity, const char* activationToken);
// Accepts and reads waiting peers without blocking, and answers a complete
// request; true when one of them asked us to come forward. Peers of other
// users, and peers that send garbage or nothing, are dropped unanswered.
bool ServeInstancePeers();
// The token the last peer that asked passed on; empty when it had none.
const char* InstanceActivationToken();
// A copy that begins to close stops listening at once, so a start in that
// moment takes over itself instead of handing over to a window about to go.
void StopServingInstance();

// The abstract socket name for the identity, without its leading NUL byte.
void InstanceName(const char* identity, char* name, size_t size);
