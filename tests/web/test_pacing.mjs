// Pacing in Chromium: 60 frames a second, whether the browser's animation
// frames come at the display's 60 a second or, with vsync and the frame-rate
// limit off, as fast as it can draw them.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';

import { launchBrowser, running, serveSite, sleep, watch } from './harness.mjs';

const SECONDS = 5;
let server;

before(async () => { server = await serveSite(); });
after(() => server?.close());

// Frames run and animation frames seen over SECONDS, counted in the page.
async function measure(browserArguments) {
  const browser = await launchBrowser(browserArguments);
  try {
    const page = await browser.newPage();
    const problems = watch(page);
    await page.goto(`${server.url}/free_move.html`);
    await running(page);
    await sleep(1000);
    const result = await page.evaluate(seconds => new Promise(resolve => {
      const firstFrame = window.tovalinex.framesRun;
      const start = performance.now();
      let animationFrames = 0;
      const count = () => {
        ++animationFrames;
        const elapsed = (performance.now() - start) / 1000;
        if (elapsed < seconds) requestAnimationFrame(count);
        else resolve({ frames: window.tovalinex.framesRun - firstFrame, animationFrames, elapsed });
      };
      requestAnimationFrame(count);
    }), SECONDS);
    assert.deepEqual(problems, []);
    return { ...result, perSecond: result.frames / result.elapsed, displayRate: result.animationFrames / result.elapsed };
  } finally {
    await browser.close();
  }
}

test('60 frames a second at the display rate', async t => {
  const result = await measure([]);
  t.diagnostic(`${result.perSecond.toFixed(2)} frames/s over ${result.elapsed.toFixed(2)} s, ` +
               `${result.displayRate.toFixed(1)} animation frames/s`);
  assert.ok(Math.abs(result.perSecond - 60) <= 1, `${result.perSecond} frames a second`);
});

test('60 frames a second with unlimited animation frames', async t => {
  const result = await measure(['--disable-gpu-vsync', '--disable-frame-rate-limit']);
  t.diagnostic(`${result.perSecond.toFixed(2)} frames/s over ${result.elapsed.toFixed(2)} s, ` +
               `${result.displayRate.toFixed(1)} animation frames/s`);
  // Only worth anything if the animation frames really came faster than 60 a second.
  assert.ok(result.displayRate > 75, `${result.displayRate} animation frames a second`);
  assert.ok(Math.abs(result.perSecond - 60) <= 1, `${result.perSecond} frames a second`);
});
