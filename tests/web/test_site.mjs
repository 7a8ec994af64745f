// The site in Debian's Chromium: every page loads cleanly with its program's
// title; scripted runs leave exactly the headless twin's picture; real key
// presses play the program; focus, a second tab and failures behave.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

import {
  OUT_DIR, PROGRAMS, SOURCE_DIR, canvasPicture, firstDifference, framesRun, launchBrowser, pngPixels,
  running, serveSite, sleep, state, textsOfLastFrame, twin, watch,
} from './harness.mjs';

const program = name => PROGRAMS.find(entry => entry.name === name);
const rounds = program('minigame').rounds;
const benchmark = program('minigame').benchmark;

// Several scripted runs of each program: [frames, keys, time].
const RUNS = {
  free_move: [[40, 'right+down@0-29'], [1, ''], [170, 'left@0-169,up@20-90']],
  walled_move: [[201, 'right+down@0-200'], [90, 'up+left@0-89'], [30, '']],
  eight_way_move: [[41, 'left+up@0-40'], [60, 'right@0-59,down@10-30,up@20-25,left@40-50']],
  jump_demo: [[301, 'space@0-20,left@0-300'], [120, 'right@0-60,space@5-15,space@70-90']],
  minigame: [[5, '', 1700000000], [770, rounds.clear.keys, rounds.clear.time],
             [225, rounds.over.keys, rounds.over.time], [400, benchmark.keys, 1700000000]],
};
const SCREENSHOT = { program: 'minigame', frames: 400, keys: rounds.clear.keys, time: rounds.clear.time };
const SCREENSHOT_FILE = 'browser-minigame.png';

let server;
let browser;
const pages = [];

async function open(url, options = {}) {
  const context = options.context ?? browser;
  const page = await context.newPage();
  const problems = watch(page);
  if (options.beforeLoad) await options.beforeLoad(page);
  pages.push({ page, problems, allowed: options.allowed ?? [] });
  await page.goto(`${server.url}/${url}`);
  return { page, problems };
}

// Every page a test opened must have stayed free of errors, but for those it expects.
async function closeAll() {
  const left = [];
  for (const { page, problems, allowed } of pages.splice(0)) {
    for (const problem of problems)
      if (!allowed.some(pattern => pattern.test(problem))) left.push(`${page.url()}: ${problem}`);
    if (!page.isClosed()) await page.close();
  }
  assert.deepEqual(left, [], 'console errors, uncaught exceptions or failed loads');
}

const scriptedAddress = (name, frames, keys, time) =>
  `${name}.html?frames=${frames}` + (keys ? `&keys=${keys}` : '') + (time !== undefined ? `&time=${time}` : '');

async function runScripted(name, frames, keys, time) {
  const { page } = await open(scriptedAddress(name, frames, keys, time));
  await page.waitForSelector('#screen[data-frames-run]', { timeout: 60000 });
  return page;
}

before(async () => {
  fs.mkdirSync(OUT_DIR, { recursive: true });
  server = await serveSite();
  browser = await launchBrowser();
});

after(async () => {
  await browser?.close();
  server?.close();
});

describe('every page', () => {
  test('loads without errors and takes its program\'s title', async () => {
    for (const { name, title } of PROGRAMS) {
      const { page } = await open(`${name}.html`);
      await running(page);
      await page.waitForFunction(() => window.tovalinex.framesRun > 10);
      assert.equal(await page.title(), title, name);
      // The title is decoded as code page 932, where "～" is 0x81 0x60.
      assert.equal(await page.evaluate(() => new TextDecoder('shift_jis').decode(new Uint8Array([0x81, 0x60]))),
                   '\uFF5E');
      await closeAll();
    }
  });

  test('the index lists the five programs with their pictures and links', async () => {
    const { page } = await open('index.html');
    const entries = await page.$$eval('ul.programs li', items => items.map(item => ({
      links: [...item.querySelectorAll('a')].map(link => link.getAttribute('href')),
      title: item.querySelector('h2').textContent,
      picture: item.querySelector('img').naturalWidth,
      text: item.textContent,
    })));
    assert.equal(entries.length, PROGRAMS.length);
    PROGRAMS.forEach(({ name, title, gloss, keys }, index) => {
      const entry = entries[index];
      assert.deepEqual([...new Set(entry.links)], [`${name}.html`]);
      assert.equal(entry.title, title);
      assert.equal(entry.picture, 640, `${name}'s picture loads`);
      for (const text of [gloss, keys]) assert.ok(entry.text.includes(text), `${name}: ${text}`);
    });
    await page.click('h2 a[href="jump_demo.html"]');
    await running(page);
    assert.equal(await page.title(), program('jump_demo').title);
    await closeAll();
  });
});

describe('scripted runs', () => {
  for (const [name, runs] of Object.entries(RUNS)) {
    test(`${name}: the canvas is the headless twin's picture`, async () => {
      for (const [frames, keys, time] of runs) {
        const page = await runScripted(name, frames, keys, time);
        assert.equal(await page.$eval('#screen', canvas => canvas.dataset.framesRun), String(frames));
        const { pixels, shown } = await canvasPicture(page);
        assert.equal(shown, frames);
        const headless = twin(name, frames, keys, time ?? null);
        assert.equal(firstDifference(pixels, headless.pixels), null, `${name} ${frames} ${keys} ${time}`);
        if (name === 'minigame' && keys === rounds.clear.keys)
          assert.ok(textsOfLastFrame(headless.trace).some(text => text.includes('ゲームクリア')), 'cleared');
        if (name === 'minigame' && keys === rounds.over.keys)
          assert.ok(textsOfLastFrame(headless.trace).some(text => text.includes('ゲームオーバー')), 'game over');
        await closeAll();
      }
    });
  }

  test('a screenshot of the page, whose canvas is the committed one\'s', async () => {
    const { program: name, frames, keys, time } = SCREENSHOT;
    const { page } = await open(scriptedAddress(name, frames, keys, time));
    await page.setViewport({ width: 720, height: 740 });
    await page.waitForSelector('#screen[data-frames-run]', { timeout: 60000 });
    const file = path.join(OUT_DIR, SCREENSHOT_FILE);
    await page.screenshot({ path: file, fullPage: true });
    const box = await page.$eval('#screen', canvas => {
      const rect = canvas.getBoundingClientRect();
      return { x: Math.round(rect.x + canvas.clientLeft + scrollX), y: Math.round(rect.y + canvas.clientTop + scrollY) };
    });
    const crop = `640x480+${box.x}+${box.y}`;
    const headless = twin(name, frames, keys, time).pixels;
    assert.equal(firstDifference(pngPixels(file, crop), headless), null, 'the screenshot just taken');
    const committed = path.join(SOURCE_DIR, 'docs', 'pictures', SCREENSHOT_FILE);
    assert.equal(firstDifference(pngPixels(committed, crop), headless), null,
                 `docs/pictures/${SCREENSHOT_FILE} is stale: copy ${file} there`);
    await closeAll();
  });

  test('a malformed address says so and runs nothing', async () => {
    const addresses = [
      'free_move.html?frames=abc', 'free_move.html?frames=-1', 'free_move.html?frames=0', 'free_move.html?frames=1000000001',
      'free_move.html?frames=1.5', 'free_move.html?keys=right@0-9', 'free_move.html?frames=10&keys=rigth@0-9',
      'free_move.html?frames=10&keys=right@9-0', 'free_move.html?frames=10&keys=right%20down@0-9',
      'free_move.html?frames=10&time=noon', 'free_move.html?frames=10&speed=2',
      'free_move.html?frames=10&frames=20', 'free_move.html?frames=%ZZ', 'free_move.html?frames=10%00',
    ];
    for (const address of addresses) {
      const { page } = await open(address);
      await page.waitForFunction(() => window.tovalinex.state === 'refused', { timeout: 20000 });
      await sleep(200);
      const notice = await page.$eval('#notice', element => ({ text: element.textContent, error: element.classList.contains('error') }));
      assert.ok(notice.error && /scripted run that cannot be run/.test(notice.text), `${address}: ${notice.text}`);
      assert.match(notice.text, /frames=N/, 'the message shows the form of a good address');
      assert.equal(await state(page), 'refused', address);
      assert.equal(await framesRun(page), 0, address);
      assert.equal(await page.$eval('#screen', canvas => canvas.hasAttribute('data-frames-run')), false);
      await closeAll();
    }
  });
});

// Key events as the page saw them, each with the frame that was to run next.
function recordKeys(page) {
  return page.evaluateOnNewDocument(() => {
    window.keyLog = [];
    window.keysLeftToThePage = [];
    for (const type of ['keydown', 'keyup'])
      addEventListener(type, event => {
        keyLog.push([event.key, type === 'keydown', window.tovalinex.framesRun, event.timeStamp]);
        // Once the event is through: the page must have kept the browser from scrolling.
        setTimeout(() => { if (!event.defaultPrevented) keysLeftToThePage.push(event.key); });
      }, true);
  });
}

const KEY_NAMES = { ArrowLeft: 'left', ArrowUp: 'up', ArrowRight: 'right', ArrowDown: 'down', ' ': 'space' };

// The key script of what the page saw, up to the frame shown.
function keyScript(log, shown) {
  const names = KEY_NAMES;
  const down = {};
  const spans = [];
  const close = (key, until) => {
    if (until > down[key] && down[key] < shown) spans.push(`${names[key]}@${down[key]}-${Math.min(until, shown) - 1}`);
    delete down[key];
  };
  for (const [key, pressed, frame] of log) {
    if (!(key in names)) continue;
    if (pressed && !(key in down)) down[key] = frame;
    else if (!pressed && key in down) close(key, frame);
  }
  for (const key of Object.keys(down)) close(key, shown);
  return spans.join(',');
}

// How long each key was held in all, in milliseconds of the page's clock, by its script name.
function holds(log) {
  const since = {};
  const total = {};
  for (const [key, pressed, , time] of log) {
    if (pressed && !(key in since)) since[key] = time;
    else if (!pressed && key in since) {
      total[KEY_NAMES[key]] = (total[KEY_NAMES[key]] ?? 0) + time - since[key];
      delete since[key];
    }
  }
  return Object.entries(total);
}

const heldFrames = (script, key) => script.split(',').filter(span => span.startsWith(`${key}@`))
  .map(span => span.split('@')[1].split('-').map(Number)).reduce((sum, [from, to]) => sum + to - from + 1, 0);

// The one ink mark on a picture of free_move: its top-left corner.
function markCorner(pixels) {
  let left = Infinity;
  let top = Infinity;
  for (let index = 0; index < pixels.length; index += 4)
    if (pixels.readUInt32BE(index) !== 0xffffffff) {
      left = Math.min(left, (index / 4) % 640);
      top = Math.min(top, Math.floor(index / 4 / 640));
    }
  return [left, top];
}

describe('playing with real keys', () => {
  const TIME = 168;
  // Steps: a key pressed (+) or released (-), or a wait in milliseconds.
  const plays = {
    free_move: ['+ArrowRight', 500, '+ArrowDown', 300, '-ArrowRight', 200, '-ArrowDown'],
    walled_move: ['+ArrowUp', 300, '+ArrowRight', 400, '-ArrowUp', '-ArrowRight'],
    eight_way_move: ['+ArrowRight', 400, '+ArrowUp', 300, '-ArrowRight', '-ArrowUp'],
    jump_demo: ['+ ', 150, '+ArrowRight', 500, '- ', 300, '-ArrowRight'],
    minigame: ['+ ', 100, '- ', 300, '+ArrowDown', '+ ', 600, '-ArrowDown', 300, '- '],
  };
  for (const [name, steps] of Object.entries(plays)) {
    test(`${name}: the picture is the twin's for the keys the page saw`, async () => {
      const { page } = await open(`${name}.html`, {
        beforeLoad: async page => {
          await recordKeys(page);
          // A fixed calendar, so that the mini-game's seed can be given to the twin.
          await page.evaluateOnNewDocument(time => { Date.now = () => time * 1000; }, TIME);
        },
      });
      await running(page);
      await sleep(200);
      const before = markCorner((await canvasPicture(page)).pixels);
      for (const step of steps) {
        if (typeof step === 'number') await sleep(step);
        else if (step[0] === '+') await page.keyboard.down(step.slice(1));
        else await page.keyboard.up(step.slice(1));
      }
      await sleep(200);
      const { pixels, shown } = await canvasPicture(page);
      const log = await page.evaluate(() => keyLog);
      const script = keyScript(log, shown);
      assert.deepEqual(await page.evaluate(() => keysLeftToThePage), [], 'arrows and space do not scroll the page');
      assert.equal(firstDifference(pixels, twin(name, shown, script, TIME).pixels), null, `${shown} frames of ${script}`);
      // Each key was seen in about as many frames as 60 a second gives for how long it was held.
      for (const [key, milliseconds] of holds(log)) {
        const expected = milliseconds * 0.06;
        const frames = heldFrames(script, key);
        assert.ok(frames >= expected * 0.7 && frames <= expected + 2, `${key} held ${milliseconds} ms: ${frames} frames`);
      }
      if (name === 'free_move') {
        // Four pixels a frame along each held arrow.
        const after = markCorner(pixels);
        assert.deepEqual([after[0] - before[0], after[1] - before[1]],
                         [4 * heldFrames(script, 'right'), 4 * heldFrames(script, 'down')]);
      }
      await closeAll();
    });
  }
});

// A stand-in for the screen wake lock that records what the page asks of it.
const fakeWakeLock = page => page.evaluateOnNewDocument(() => {
  window.wakeLog = [];
  const wakeLock = {
    request: async type => {
      wakeLog.push(`request ${type}`);
      const sentinel = new EventTarget();
      sentinel.release = async () => {
        if (sentinel.released) return;
        sentinel.released = true;
        wakeLog.push('release');
        sentinel.dispatchEvent(new Event('release'));
      };
      return sentinel;
    },
  };
  Object.defineProperty(Navigator.prototype, 'wakeLock', { configurable: true, get: () => wakeLock });
});

describe('focus and tabs', () => {
  test('another tab in front freezes the program and lets go of its keys; coming back resumes it', async () => {
    const { page } = await open('free_move.html', { beforeLoad: fakeWakeLock });
    await running(page);
    await page.keyboard.down('ArrowRight');
    await sleep(300);
    const { page: other } = await open('walled_move.html');
    await other.bringToFront();
    await running(other);
    await sleep(300);
    const frozen = await framesRun(page);
    const frozenPicture = (await canvasPicture(page)).pixels;
    await sleep(1000);
    assert.equal(await framesRun(page), frozen, 'no frames while another tab is in front');
    assert.equal(firstDifference((await canvasPicture(page)).pixels, frozenPicture), null, 'the picture stays');
    assert.ok(await framesRun(other) > 30, 'the tab in front runs');
    await page.bringToFront();
    await page.waitForFunction(count => window.tovalinex.framesRun > count + 20, {}, frozen);
    // The key-up never came, but the key was let go on blur: the mark stands still.
    const resumed = (await canvasPicture(page)).pixels;
    await sleep(300);
    assert.equal(firstDifference((await canvasPicture(page)).pixels, resumed), null, 'no key is held after coming back');
    assert.deepEqual(await page.evaluate(() => wakeLog), ['request screen', 'release', 'request screen']);
    await page.keyboard.up('ArrowRight');
    await closeAll();
  });

  test('a second tab of the same program runs nothing and says where it runs; another program runs', async () => {
    const { page: first } = await open('free_move.html');
    await running(first);
    const { page: second } = await open('free_move.html');
    await second.bringToFront();
    await second.waitForFunction(() => window.tovalinex.state === 'elsewhere', { timeout: 20000 });
    await sleep(500);
    assert.equal(await framesRun(second), 0);
    assert.match(await second.$eval('#notice', element => element.textContent), /already running in another tab/);
    const { page: third } = await open('minigame.html');
    await third.bringToFront();
    await running(third);
    await sleep(500);
    assert.ok(await framesRun(third) > 10, 'a different program runs');
    await first.bringToFront();
    const count = await framesRun(first);
    await first.waitForFunction(count => window.tovalinex.framesRun > count + 10, {}, count);
    await closeAll();
  });
});

test('closing the page stops the program', async () => {
  const { page } = await open('free_move.html');
  await running(page);
  await page.evaluate(() => dispatchEvent(new PageTransitionEvent('pagehide', { persisted: false })));
  assert.equal(await state(page), 'closed');
  const count = await framesRun(page);
  await sleep(300);
  assert.equal(await framesRun(page), count, 'no frame after the close');
  await closeAll();
});

describe('faults', () => {
  // An instance whose exported function traps: what a fault in the module does.
  const injectTrap = page => page.evaluateOnNewDocument(() => {
    const trap = new WebAssembly.Instance(new WebAssembly.Module(new Uint8Array([
      0x00, 0x61, 0x73, 0x6d, 0x01, 0x00, 0x00, 0x00, 0x01, 0x04, 0x01, 0x60, 0x00, 0x00, 0x03, 0x02, 0x01,
      0x00, 0x07, 0x05, 0x01, 0x01, 0x74, 0x00, 0x00, 0x0a, 0x05, 0x01, 0x03, 0x00, 0x00, 0x0b]))).exports.t;
    const instantiate = WebAssembly.instantiate;
    WebAssembly.instantiate = async (...args) => {
      const real = (await instantiate.apply(WebAssembly, args)).exports;
      let calls = 0;
      const exports = { ...real, tovalinex_animation_frame: time => (++calls > 30 ? trap() : real.tovalinex_animation_frame(time)) };
      return { exports };
    };
  });

  test('a trap in the module stops the program with a message and an error the tests see', async () => {
    const { page, problems } = await open('free_move.html', { beforeLoad: injectTrap, allowed: [/unreachable/] });
    await page.waitForFunction(() => window.tovalinex.state === 'failed', { timeout: 20000 });
    assert.match(await page.$eval('#notice', element => element.textContent), /stopped with an error/);
    assert.ok(problems.some(problem => /console error: .*unreachable/.test(problem)), problems.join('\n'));
    const count = await framesRun(page);
    await sleep(300);
    assert.equal(await framesRun(page), count);
    await closeAll();
  });

  test('an uncaught exception on a page is seen by the tests', async () => {
    const { page, problems } = await open('free_move.html', { allowed: [/deliberate/] });
    await running(page);
    await page.evaluate(() => setTimeout(() => { throw new Error('deliberate'); }));
    await sleep(200);
    assert.ok(problems.some(problem => /uncaught: .*deliberate/.test(problem)), problems.join('\n'));
    await closeAll();
  });

  test('without WebAssembly the page says so', async () => {
    const { page } = await open('free_move.html', {
      beforeLoad: page => page.evaluateOnNewDocument(() => { delete globalThis.WebAssembly; }),
      allowed: [/cannot run WebAssembly/],
    });
    await page.waitForFunction(() => !document.getElementById('notice').hidden);
    assert.match(await page.$eval('#notice', element => element.textContent), /cannot run WebAssembly/);
    assert.equal(await state(page), 'failed');
    await closeAll();
  });

  test('without the Web Locks API the program runs unguarded and the console says so', async () => {
    const warnings = [];
    const { page } = await open('free_move.html', {
      beforeLoad: async page => {
        page.on('console', message => { if (message.type() === 'warn') warnings.push(message.text()); });
        await page.evaluateOnNewDocument(() => { delete Navigator.prototype.locks; });
      },
    });
    await running(page);
    await page.waitForFunction(() => window.tovalinex.framesRun > 10);
    assert.ok(warnings.some(text => /no Web Locks API/.test(text)), warnings.join('\n'));
    await closeAll();
  });

  test('an atlas that does not load, or is damaged, gives a message and no frames', async () => {
    const answers = {
      missing: request => request.respond({ status: 404, body: 'not here' }),
      cut: request => request.respond({ status: 200, contentType: 'application/gzip',
                                        body: Buffer.from([0x1f, 0x8b, 0x08, 0x00, 0x00, 0x00]) }),
      short: request => request.respond({ status: 200, contentType: 'application/octet-stream', body: Buffer.alloc(1000) }),
      refused: request => request.abort('connectionrefused'),
    };
    for (const [kind, answer] of Object.entries(answers)) {
      // A fresh context each time: nothing from an earlier page's Cache Storage.
      const context = await browser.createBrowserContext();
      const { page } = await open('free_move.html', {
        context,
        allowed: [/glyph atlas|cp932-glyphs|Failed to load resource/],
        beforeLoad: async page => {
          await page.setRequestInterception(true);
          page.on('request', request => (/cp932-glyphs/.test(request.url()) ? answer(request) : request.continue()));
        },
      });
      await page.waitForFunction(() => window.tovalinex.state === 'failed', { timeout: 20000 });
      assert.match(await page.$eval('#notice', element => element.textContent), /glyph atlas/, kind);
      await sleep(200);
      assert.equal(await framesRun(page), 0, kind);
      await closeAll();
      await context.close();
    }
  });
});

test('the atlas is fetched once for all programs', async () => {
  const context = await browser.createBrowserContext();
  const fetched = [];
  for (const name of ['free_move', 'minigame', 'walled_move']) {
    const { page } = await open(`${name}.html`, {
      context,
      beforeLoad: async page => page.on('request', request => {
        if (/cp932-glyphs/.test(request.url())) fetched.push(`${name}: ${request.url()}`);
      }),
    });
    await running(page);
    await closeAll();
  }
  assert.equal(fetched.length, 1, fetched.join('\n'));
  await context.close();
});
