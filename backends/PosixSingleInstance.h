// One running copy per program and user: a lock held for the life of the
// first copy, and a local socket on which later copies ask it to come forward.
#pragma once

enum class InstanceClaim {
  First,      // we hold the lock and listen for later copies
  Other,      // a copy runs already and has been asked to come forward
  Unguarded,  // no private runtime directory: run without the guard
};

// Identity is any text; copies with the same identity exclude each other. A
// later copy passes on the activation token (null for none) that its
// launcher gave it, which the first copy may need to be let to the front.
InstanceClaim ClaimInstance(const char* identity, const char* activationToken);
// Accepts and reads waiting peers without blocking; true when one of them
// asked us to come forward. Peers that send garbage or nothing are dropped.
bool ServeInstancePeers();
// The token the last peer that asked passed on; empty when it had none.
const char* InstanceActivationToken();
