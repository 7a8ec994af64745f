// The web site's figures for the performance table, in headless Chromium on
// 127.0.0.1, printed as Markdown:
//   - bytes transferred per program from a server that gzips what it sends
//     (the atlas is gzip already), the first program in a fresh profile and
//     then another one with the atlas cached;
//   - navigation to the first presented frame (the first putImageData);
//   - the mini-game's heaviest frame as WebAssembly in Chromium against the
//     native headless frame (bench_<program>'s Framework pass), alternated.
//
//   node bench/web_measure.mjs --site DIR --bench-bin DIR --programs FILE [--rounds N]
//                              [--only bytes|first|frames]
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { parseArgs } from 'node:util';
import zlib from 'node:zlib';

const { values: options } = parseArgs({
  options: {
    site: { type: 'string' }, 'bench-bin': { type: 'string' }, programs: { type: 'string' },
    rounds: { type: 'string', default: '5' }, only: { type: 'string' },
  },
});
for (const name of ['site', 'bench-bin', 'programs'])
  if (!options[name]) throw new Error(`--${name} is required`);
const ROUNDS = Number(options.rounds);
const root = path.dirname(path.dirname(new URL(import.meta.url).pathname));
// The browser tests' harness starts Chromium the same way for these figures.
Object.assign(process.env, {
  TOVALINEX_SITE_DIR: options.site, TOVALINEX_BIN_DIR: options['bench-bin'],
  TOVALINEX_PROGRAMS_JSON: options.programs, TOVALINEX_SOURCE_DIR: root,
  TOVALINEX_WEB_OUT: path.join(options['bench-bin'], '..', 'web-bench'),
});
const { PROGRAMS, launchBrowser, running, sleep } = await import('../tests/web/harness.mjs');

const median = values => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const kb = bytes => `${(bytes / 1000).toFixed(1)} KB`;

// A static server that gzips whatever is not compressed already, as most do.
function gzipServer() {
  const types = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.css': 'text/css',
                  '.wasm': 'application/wasm', '.gz': 'application/gzip', '.png': 'image/png' };
  const server = http.createServer((request, response) => {
    const file = path.join(options.site, decodeURIComponent(new URL(request.url, 'http://x').pathname));
    if (!file.startsWith(options.site) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      response.writeHead(404).end();
      return;
    }
    const extension = path.extname(file);
    let body = fs.readFileSync(file);
    const headers = { 'Content-Type': types[extension] ?? 'application/octet-stream', 'Cache-Control': 'no-cache' };
    if (!['.gz', '.png'].includes(extension) && /gzip/.test(request.headers['accept-encoding'] ?? '')) {
      body = zlib.gzipSync(body, { level: 9 });
      headers['Content-Encoding'] = 'gzip';
    }
    response.writeHead(200, headers).end(body);
  });
  return new Promise(resolve => server.listen(0, '127.0.0.1', () =>
    resolve({ url: `http://127.0.0.1:${server.address().port}`, close: () => server.close() })));
}

// Loads a page and returns the bytes that came over the network for it,
// file by file, once its first picture is on the canvas.
async function transferred(context, url) {
  const page = await context.newPage();
  const client = await page.createCDPSession();
  await client.send('Network.enable');
  const names = {};
  const bytes = {};
  client.on('Network.responseReceived', event => { names[event.requestId] = path.basename(new URL(event.response.url).pathname); });
  client.on('Network.loadingFinished', event => { bytes[event.requestId] = event.encodedDataLength; });
  await page.goto(url);
  await running(page);
  await page.waitForFunction(() => window.tovalinex.framesShown > 0);
  await sleep(300);
  const files = {};
  for (const [id, count] of Object.entries(bytes)) files[names[id] ?? id] = (files[names[id] ?? id] ?? 0) + count;
  await page.close();
  return files;
}

async function bytesPerProgram(server) {
  const rows = [];
  for (const { name } of PROGRAMS) {
    const browser = await launchBrowser();
    try {
      const context = await browser.createBrowserContext();
      const first = await transferred(context, `${server.url}/${name}.html`);
      // Another program next, as a player going on from the index would.
      const other = PROGRAMS.find(entry => entry.name !== name).name;
      const second = await transferred(context, `${server.url}/${other}.html`);
      const total = files => Object.values(files).reduce((sum, count) => sum + count, 0);
      rows.push({ name, first, second, other, firstTotal: total(first), secondTotal: total(second) });
    } finally {
      await browser.close();
    }
  }
  return rows;
}

// Milliseconds from navigation to the first picture on the canvas.
async function firstFrame(server, name, cached) {
  const browser = await launchBrowser();
  try {
    const context = await browser.createBrowserContext();
    if (cached) {
      const warm = await context.newPage();
      await warm.goto(`${server.url}/${name}.html`);
      await running(warm);
      await warm.close();
    }
    const page = await context.newPage();
    await page.evaluateOnNewDocument(() => {
      const put = CanvasRenderingContext2D.prototype.putImageData;
      CanvasRenderingContext2D.prototype.putImageData = function (...args) {
        if (window.firstPresent === undefined) window.firstPresent = performance.now();
        return put.apply(this, args);
      };
    });
    await page.goto(`${server.url}/${name}.html`);
    await page.waitForFunction(() => window.firstPresent !== undefined, { timeout: 20000 });
    return await page.evaluate(() => window.firstPresent);
  } finally {
    await browser.close();
  }
}

// Milliseconds per pass of the mini-game in its heaviest state, as
// WebAssembly in the page: the module driven as a scripted run, with the
// page's imports stubbed.
function wasmPass(page, program, warm, keys, samples, passes) {
  return page.evaluate(async (program, warm, keys, samples, passes) => {
    let exports;
    const imports = {
      tovalinex: { present() {}, set_title() {}, show_message() {}, calendar_seconds: () => 1700000000, hold_wake_lock() {} },
      wasi_snapshot_preview1: { fd_close: () => 8, fd_seek: () => 8, fd_write: () => 8 },
    };
    const module = await (await fetch(`${program}.wasm`)).arrayBuffer();
    exports = (await WebAssembly.instantiate(module, imports)).instance.exports;
    exports._initialize();
    const packed = await (await fetch(document.querySelector('script[data-atlas]').dataset.atlas)).blob();
    const atlas = new Uint8Array(await new Response(packed.stream().pipeThrough(new DecompressionStream('gzip'))).arrayBuffer());
    new Uint8Array(exports.memory.buffer, exports.tovalinex_atlas(), atlas.length).set(atlas);
    exports.tovalinex_atlas_loaded();
    const texts = ['1000000000', keys, '1700000000'];
    texts.forEach((text, index) => {
      const bytes = new TextEncoder().encode(`${text}\0`);
      new Uint8Array(exports.memory.buffer, exports.tovalinex_argument(index), bytes.length).set(bytes);
    });
    if (exports.tovalinex_script(1) !== 0 || exports.tovalinex_start(0) !== -1) throw new Error('no start');
    exports.tovalinex_run_scripted(warm);
    const times = [];
    for (let sample = 0; sample < samples; ++sample) {
      const start = performance.now();
      exports.tovalinex_run_scripted(passes);
      times.push((performance.now() - start) / passes);
    }
    return times.sort((a, b) => a - b)[Math.floor(times.length / 2)];
  }, program, warm, keys, samples, passes);
}

function nativePass(program, warm, keys) {
  const output = execFileSync(path.join(options['bench-bin'], `bench_${program}`), [
    '--keys', keys, '--warm', String(warm), '--benchmark_filter=^Framework$', '--benchmark_min_time=0.5',
    '--benchmark_format=json'], { encoding: 'utf8' });
  const report = JSON.parse(output.slice(output.indexOf('{')));
  return report.benchmarks[0].real_time / 1000;  // microseconds to milliseconds
}

async function frameCost(server) {
  const { name, benchmark } = PROGRAMS.find(entry => entry.name === 'minigame');
  const browser = await launchBrowser();
  const wasm = [];
  const native = [];
  try {
    const page = await browser.newPage();
    await page.goto(`${server.url}/${name}.html?frames=1`);
    for (let round = 0; round < ROUNDS; ++round) {
      native.push(nativePass(name, benchmark.warm, benchmark.keys));
      wasm.push(await wasmPass(page, name, benchmark.warm, benchmark.keys, 15, 40));
    }
  } finally {
    await browser.close();
  }
  return { name, wasm, native };
}

const wanted = section => !options.only || options.only === section;
const server = await gzipServer();
try {
  console.log('### The web site in headless Chromium on 127.0.0.1\n');
  if (wanted('bytes')) await printBytes(server);
  if (wanted('first')) await printFirstFrames(server);
  if (wanted('frames')) await printFrameCost(server);
} finally {
  server.close();
}

async function printBytes(server) {
  const rows = await bytesPerProgram(server);
  console.log('Bytes transferred, gzip from the server (the atlas is a .gz file), a fresh profile; ' +
              'then another program in the same profile, the glyph atlas in the Cache Storage:\n');
  console.log('| program | page, script, style | .wasm | glyph atlas | total (goal ≤ 200 KB) | then another program |');
  console.log('|---|---|---|---|---|---|');
  for (const { name, first, other, firstTotal, secondTotal } of rows) {
    const atlas = Object.entries(first).filter(([file]) => file.startsWith('cp932-glyphs')).reduce((s, [, n]) => s + n, 0);
    const wasm = first[`${name}.wasm`] ?? 0;
    console.log(`| ${name} | ${kb(firstTotal - atlas - wasm)} | ${kb(wasm)} | ${kb(atlas)} | ${kb(firstTotal)} | ` +
                `${kb(secondTotal)} (${other}) |`);
  }
}

async function printFirstFrames(server) {
  console.log('\nNavigation to the first presented frame (the first putImageData), medians of ' +
              `${ROUNDS} loads each in a fresh browser (goal ≤ 300 ms):\n`);
  console.log('| program | nothing cached | atlas and module cached |');
  console.log('|---|---|---|');
  for (const { name } of PROGRAMS) {
    const cold = [];
    const warm = [];
    for (let round = 0; round < ROUNDS; ++round) {
      cold.push(await firstFrame(server, name, false));
      warm.push(await firstFrame(server, name, true));
    }
    console.log(`| ${name} | ${median(cold).toFixed(0)} ms | ${median(warm).toFixed(0)} ms |`);
  }
}

async function printFrameCost(server) {
  const cost = await frameCost(server);
  const wasm = median(cost.wasm);
  const native = median(cost.native);
  console.log(`\nThe ${cost.name}'s heaviest frame (one pass: present, clear, GameFrame), WebAssembly in ` +
              `Chromium against the native headless build, alternated, medians of ${ROUNDS} (goal ≤ 2×):\n`);
  console.log('| build | per pass | all rounds |');
  console.log('|---|---|---|');
  console.log(`| WebAssembly (Chromium) | ${(wasm * 1000).toFixed(1)} µs | ${cost.wasm.map(t => (t * 1000).toFixed(0)).join(', ')} |`);
  console.log(`| native (bench_${cost.name}) | ${(native * 1000).toFixed(1)} µs | ${cost.native.map(t => (t * 1000).toFixed(0)).join(', ')} |`);
  console.log(`| ratio | ${(wasm / native).toFixed(2)}× | |\n`);
}
