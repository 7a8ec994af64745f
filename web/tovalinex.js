// Runs one Tovalinex program in its page: loads the glyph atlas and the
// program's WebAssembly module, then drives it from the page's animation
// frames (backends/WebBackend.cpp is the other half). The page's address may
// ask for a scripted run instead, as the headless twin's command line does:
//   <program>.html?frames=N&keys=KEY[+KEY...]@FROM-TO,...&time=SECONDS
// That runs exactly those frames on a virtual schedule, shows the last
// picture and then sets data-frames-run="N" on the canvas.
'use strict';

(() => {
  const script = document.currentScript;
  const program = script.dataset.program;
  const canvas = document.getElementById('screen');
  const notice = document.getElementById('notice');
  const context = canvas.getContext('2d');
  const VirtualKeys = { ArrowLeft: 0x25, ArrowUp: 0x26, ArrowRight: 0x27, ArrowDown: 0x28, ' ': 0x20 };
  const Events = { activated: 0, deactivated: 1, closed: 2 };
  const StillRunning = -1;
  const ExitNoFont = 6;
  const usage = `${program}.html?frames=N&keys=KEY[+KEY...]@FROM-TO,...&time=SECONDS ` +
    '(keys left up right down space, frames inclusive; keys and time may be left out)';

  let exports = null;
  let pendingPicture = null;
  // For tools and tests: what state the page is in and how many frames ran.
  const status = {
    state: 'loading',
    get framesRun() { return exports ? exports.tovalinex_frames_run() : 0; },
    get framesShown() { return exports ? exports.tovalinex_frames_shown() : 0; },
  };
  window.tovalinex = status;

  function say(text, kind = 'info') {
    notice.textContent = text;
    notice.hidden = false;
    notice.classList.toggle('error', kind === 'error');
  }

  function fail(text, error) {
    say(text, 'error');
    status.state = 'failed';
    console.error(`${program}: ${text}`, error ?? '');
  }

  // A link asking for a run that cannot be: the page says why, nothing runs.
  function refuse(problem) {
    say(`This address asks for a scripted run that cannot be run: ${problem}. Use ${usage}.`, 'error');
    status.state = 'refused';
  }

  if (typeof WebAssembly !== 'object' || typeof WebAssembly.instantiate !== 'function') {
    fail('This browser cannot run WebAssembly, which the program needs. ' +
         'A current Chrome, Firefox, Safari or Edge can.');
    return;
  }

  // The address's scripted run: null when it asks for none, else its texts.
  // '+' stays '+' (it joins keys), so the query is read by hand.
  function scriptedRun() {
    const query = location.search.slice(1);
    if (!query) return null;
    const run = {};
    for (const part of query.split('&')) {
      if (!part) continue;
      const equals = part.indexOf('=');
      let name, value;
      try {
        name = decodeURIComponent(equals < 0 ? part : part.slice(0, equals));
        value = equals < 0 ? '' : decodeURIComponent(part.slice(equals + 1));
      } catch {
        throw new Error(`"${part}" is not a well-formed address part`);
      }
      if (!['frames', 'keys', 'time'].includes(name)) throw new Error(`unknown parameter "${name}"`);
      if (name in run) throw new Error(`"${name}" is given twice`);
      if (value.includes('\0')) throw new Error(`"${name}" holds a NUL character`);
      run[name] = value;
    }
    if (!('frames' in run)) throw new Error('frames=N is missing');
    return run;
  }

  // The atlas, kept in the Cache Storage under its versioned address so that
  // the five programs fetch it once; the bytes are gzip unless the server
  // already unpacked them. Opening the Cache Storage can take a good part of
  // the start in a fresh profile, so the network is asked at once unless the
  // local storage says the atlas is there. `remember` stores it once it
  // proved good.
  async function fetchAtlas(url) {
    const opening = self.caches ? caches.open('tovalinex-glyph-atlas').catch(() => null) : Promise.resolve(null);
    let known = false;
    try {
      known = localStorage.getItem('tovalinex glyph atlas') === url;
    } catch {
      // No local storage: the Cache Storage is not asked first.
    }
    const cache = known ? await opening : null;
    const cached = cache ? await cache.match(url) : undefined;
    const response = cached ?? await fetch(url);
    if (!response.ok) throw new Error(`the server answered ${response.status} ${response.statusText}`);
    const packed = new Uint8Array(await response.arrayBuffer());
    const remember = async () => {
      const cache = await opening;
      if (!cache || cached) return;
      try {
        for (const old of await cache.keys()) if (old.url !== url) await cache.delete(old);
        await cache.put(url, new Response(packed));
        localStorage.setItem('tovalinex glyph atlas', url);
      } catch {
        // Out of quota or refused: fetched again next time.
      }
    };
    if (packed[0] !== 0x1f || packed[1] !== 0x8b) return { bytes: packed, remember };
    if (typeof DecompressionStream !== 'function')
      throw new Error('this browser cannot unpack gzip (no DecompressionStream)');
    const unpacked = new Blob([packed]).stream().pipeThrough(new DecompressionStream('gzip'));
    return { bytes: new Uint8Array(await new Response(unpacked).arrayBuffer()), remember };
  }

  async function fetchModule(url) {
    const response = await fetch(url);
    if (!response.ok) throw new Error(`the server answered ${response.status} ${response.statusText}`);
    return response.arrayBuffer();
  }

  // --- What the module asks of the page ---
  const shiftJis = new TextDecoder('shift_jis');
  const memoryBytes = (pointer, length) => new Uint8Array(exports.memory.buffer, pointer, length);
  const decode = (pointer, length) => shiftJis.decode(memoryBytes(pointer, length));

  // The screen wake lock: its sentinel, or the request not yet granted.
  let wakeLock = null;
  function holdWakeLock(hold) {
    if (!navigator.wakeLock) return;
    if (hold && !wakeLock) {
      const request = navigator.wakeLock.request('screen');
      wakeLock = request;
      request.then(lock => {
        if (wakeLock !== request) {
          lock.release();  // let go of while it was being granted
          return;
        }
        wakeLock = lock;
        lock.addEventListener('release', () => { if (wakeLock === lock) wakeLock = null; });
      }, () => {
        if (wakeLock === request) wakeLock = null;  // refused (power saving, policy): the screen may dim
      });
    } else if (!hold && wakeLock) {
      const held = wakeLock;
      wakeLock = null;
      if (typeof held.release === 'function') held.release().catch(() => {});
    }
  }

  const imports = {
    tovalinex: {
      // The picture goes on the canvas when the module returns (flush).
      present: (pointer, width, height) => { pendingPicture = { pointer, width, height }; },
      set_title: (pointer, length) => { document.title = decode(pointer, length); },
      show_message: (text, textLength, caption, captionLength) =>
        fail(`${decode(caption, captionLength)}: ${decode(text, textLength)}`),
      calendar_seconds: () => Date.now() / 1000,
      hold_wake_lock: holdWakeLock,
    },
    // The C library's formatting brings its file functions along; the program
    // never writes a file, and there are none: EBADF.
    wasi_snapshot_preview1: { fd_close: () => 8, fd_seek: () => 8, fd_write: () => 8 },
  };

  function flush() {
    if (!pendingPicture) return;
    const { pointer, width, height } = pendingPicture;
    pendingPicture = null;
    // A fresh view each time: the module's memory may have grown since.
    const pixels = new Uint8ClampedArray(exports.memory.buffer, pointer, width * height * 4);
    context.putImageData(new ImageData(pixels, width, height), 0, 0);
  }

  function crashed(error) {
    fail(`The program stopped with an error: ${error && error.message ? error.message : error}`, error);
  }

  // --- Driving it ---
  function runInteractively() {
    let active = null;
    const activate = now => {
      if (now === active) return;
      active = now;
      exports.tovalinex_event(now ? Events.activated : Events.deactivated);
      if (now) notice.hidden = true;
      else say('Paused while this tab does not have the focus: click the page to go on.');
    };
    const key = (event, down) => {
      const code = VirtualKeys[event.key];
      if (code === undefined || (down && (event.altKey || event.ctrlKey || event.metaKey))) return;
      event.preventDefault();  // else the arrows and space scroll the page
      exports.tovalinex_key(code, down);
    };
    addEventListener('keydown', event => key(event, 1));
    addEventListener('keyup', event => key(event, 0));
    addEventListener('focus', () => activate(!document.hidden));
    addEventListener('blur', () => activate(false));
    document.addEventListener('visibilitychange', () => activate(!document.hidden && document.hasFocus()));
    addEventListener('pagehide', () => {
      exports.tovalinex_close();
      status.state = 'closed';
    });
    // Back from the browser's page cache: start afresh, as a new window would.
    addEventListener('pageshow', event => { if (event.persisted) location.reload(); });
    activate(!document.hidden && document.hasFocus());

    const onAnimationFrame = timestamp => {
      let running;
      try {
        running = exports.tovalinex_animation_frame(performance.timeOrigin + timestamp);
        flush();
      } catch (error) {
        crashed(error);
        return;
      }
      if (running) requestAnimationFrame(onAnimationFrame);
    };
    status.state = 'running';
    requestAnimationFrame(onAnimationFrame);
  }

  // Passes as fast as the page allows, a few milliseconds at a time so that it
  // stays responsive; then the last picture and the mark that the run is over.
  function runScripted() {
    const channel = new MessageChannel();
    channel.port1.onmessage = () => {
      const until = performance.now() + 12;
      let running;
      try {
        do running = exports.tovalinex_run_scripted(4); while (running && performance.now() < until);
        flush();
      } catch (error) {
        crashed(error);
        return;
      }
      if (running) {
        channel.port2.postMessage(null);
        return;
      }
      const frames = exports.tovalinex_frames_run();
      canvas.dataset.framesRun = String(frames);
      status.state = 'done';
      say(`Scripted run: ${frames} frames run; the picture is the last one's.`);
    };
    status.state = 'running';
    channel.port2.postMessage(null);
  }

  // Writes the run's texts into the module; a message when one is malformed.
  function setScript(run) {
    const capacity = exports.tovalinex_argument_capacity();
    const texts = [run.frames, run.keys ?? '', run.time ?? ''];
    const encoder = new TextEncoder();
    for (let index = 0; index < texts.length; ++index) {
      const bytes = encoder.encode(texts[index]);
      if (bytes.length >= capacity) throw new Error(`"${['frames', 'keys', 'time'][index]}" is too long`);
      const target = memoryBytes(exports.tovalinex_argument(index), capacity);
      target.set(bytes);
      target[bytes.length] = 0;
    }
    const bad = exports.tovalinex_script('time' in run ? 1 : 0);
    if (bad === 1) throw new Error(`frames=${run.frames} is not a whole number of frames from 1 to 1000000000`);
    if (bad === 2) throw new Error(`keys=${run.keys} is not a key script`);
    if (bad === 3) throw new Error(`time=${run.time} is not a whole number of seconds`);
  }

  // The atlas and the compiled module, fetched at once while the page finds
  // out whether it may run.
  function load() {
    return Promise.all([
      fetchAtlas(new URL(script.dataset.atlas, location.href).href).catch(error => {
        throw new Error(`The characters the program draws with (the glyph atlas) could not be loaded: ${error.message}. ` +
                        'Nothing is shown without them; reload the page to try again.');
      }),
      fetchModule(`${program}.wasm`).then(bytes => WebAssembly.compile(bytes)).catch(error => {
        throw new Error(`The program (${program}.wasm) could not be loaded: ${error.message}.`);
      }),
    ]);
  }

  async function start(loading, anotherCopyRuns, run) {
    let atlas, module;
    try {
      [atlas, module] = await loading;
      exports = (await WebAssembly.instantiate(module, imports)).exports;
      exports._initialize();
    } catch (error) {
      fail(error.message, error);
      return;
    }
    if (atlas.bytes.length !== exports.tovalinex_atlas_size()) {
      fail(`The glyph atlas is damaged (${atlas.bytes.length} bytes, not ${exports.tovalinex_atlas_size()}); ` +
           'nothing is shown without it.');
      return;
    }
    atlas.remember();
    memoryBytes(exports.tovalinex_atlas(), atlas.bytes.length).set(atlas.bytes);
    exports.tovalinex_atlas_loaded();
    try {
      if (run) setScript(run);
    } catch (error) {
      refuse(error.message);
      return;
    }
    let outcome;
    try {
      outcome = exports.tovalinex_start(anotherCopyRuns ? 1 : 0);
      flush();
    } catch (error) {
      crashed(error);
      return;
    }
    if (outcome === 0 && anotherCopyRuns) {
      status.state = 'elsewhere';
      say(`${program} is already running in another tab of this browser: switch to that tab to play. ` +
          '(A page cannot bring another tab to the front.) Reload this page once that tab is closed to play here.');
      return;
    }
    if (outcome !== StillRunning) {
      if (status.state !== 'failed')
        fail(outcome === ExitNoFont ? 'The glyph atlas is missing.' : `The program could not start (exit code ${outcome}).`);
      return;
    }
    if (run) runScripted();
    else runInteractively();
  }

  let run;
  try {
    run = scriptedRun();
  } catch (error) {
    refuse(error.message);
    return;
  }
  const loading = load();
  loading.catch(() => {});  // a failure is reported where it is awaited
  if (run) {
    say(`Scripted run of ${run.frames} frames…`);
    start(loading, false, run);
  } else if (!navigator.locks) {
    console.warn(`${program}: this browser has no Web Locks API, so nothing keeps a second tab ` +
                 'of this program from running at the same time.');
    start(loading, false, null);
  } else {
    // The lock is held as long as the page lives: one copy per browser profile.
    navigator.locks.request(`tovalinex ${program}`, { ifAvailable: true }, lock => {
      start(loading, lock === null, null);
      return lock ? new Promise(() => {}) : undefined;
    }).catch(error => fail(`The check for another tab failed: ${error.message}`, error));
  }
})();
