// What the browser tests share: the built site served on 127.0.0.1 the way
// scripts/run.sh --web serves it, Debian's Chromium started with a fresh
// profile, a watch on every page for console errors, uncaught exceptions and
// failed loads, the canvas's pixels, and the headless twins' pictures.
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

const required = name => {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set: run these tests through ctest`);
  return value;
};
export const SITE_DIR = required('TOVALINEX_SITE_DIR');
export const BIN_DIR = required('TOVALINEX_BIN_DIR');
export const OUT_DIR = required('TOVALINEX_WEB_OUT');
export const SOURCE_DIR = required('TOVALINEX_SOURCE_DIR');
export const PROGRAMS = JSON.parse(fs.readFileSync(required('TOVALINEX_PROGRAMS_JSON'), 'utf8')).programs;
export const CHROMIUM = '/usr/bin/chromium';

export const sleep = milliseconds => new Promise(resolve => setTimeout(resolve, milliseconds));

// python3 -m http.server on a free port: a plain static server, no compression.
export async function serveSite() {
  const server = spawn('python3', ['-u', '-m', 'http.server', '0', '--bind', '127.0.0.1', '--directory', SITE_DIR],
                       { stdio: ['ignore', 'pipe', 'ignore'] });
  const port = await new Promise((resolve, reject) => {
    let seen = '';
    server.stdout.on('data', data => {
      seen += data;
      const match = /port (\d+)/.exec(seen);
      if (match) resolve(Number(match[1]));
    });
    server.on('exit', code => reject(new Error(`the static server exited with ${code}`)));
  });
  return { url: `http://127.0.0.1:${port}`, close: () => server.kill() };
}

export async function launchBrowser(extraArguments = []) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'tovalinex-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: CHROMIUM,
    headless: true,
    userDataDir: profile,
    args: [
      ...(process.getuid && process.getuid() === 0 ? ['--no-sandbox'] : []),
      '--disable-gpu', '--disable-background-networking', '--disable-component-update',
      '--disable-sync', '--no-first-run', ...extraArguments,
    ],
  });
  const close = browser.close.bind(browser);
  browser.close = async () => {
    await close();
    fs.rmSync(profile, { recursive: true, force: true });
  };
  return browser;
}

// Everything on a page that would mean a fault: console errors, uncaught
// exceptions (a WebAssembly trap is one), loads that failed.
export function watch(page) {
  const problems = [];
  page.on('console', message => {
    if (message.type() === 'error') problems.push(`console error: ${message.text()}`);
  });
  page.on('pageerror', error => problems.push(`uncaught: ${error.message}`));
  page.on('requestfailed', request => problems.push(`failed load: ${request.url()} ${request.failure()?.errorText}`));
  page.on('response', response => {
    if (response.status() >= 400) problems.push(`HTTP ${response.status()}: ${response.url()}`);
  });
  return problems;
}

export const running = page => page.waitForFunction(() => window.tovalinex?.state === 'running', { timeout: 20000 });
export const state = page => page.evaluate(() => window.tovalinex?.state);
export const framesRun = page => page.evaluate(() => window.tovalinex.framesRun);

// The canvas's RGBA bytes, and in the same instant how many frames its picture has seen.
export async function canvasPicture(page) {
  const { data, shown } = await page.evaluate(() => {
    const canvas = document.getElementById('screen');
    const bytes = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    let binary = '';
    for (let index = 0; index < bytes.length; index += 0x8000)
      binary += String.fromCharCode.apply(null, bytes.subarray(index, index + 0x8000));
    return { data: btoa(binary), shown: window.tovalinex.framesShown };
  });
  return { pixels: Buffer.from(data, 'base64'), shown };
}

export function pngPixels(file, crop = null) {
  const command = [file, ...(crop ? ['-crop', crop, '+repage'] : []), '-depth', '8', 'rgba:-'];
  return execFileSync('convert', command, { maxBuffer: 1 << 24 });
}

// The headless twin's picture after the same arguments, and its trace.
export function twin(program, frames, keys = '', time = null) {
  const directory = fs.mkdtempSync(path.join(os.tmpdir(), 'tovalinex-twin-'));
  const png = path.join(directory, 'twin.png');
  const trace = path.join(directory, 'trace.txt');
  const command = ['--frames', String(frames), '--png', png, '--trace', trace];
  if (keys) command.push('--keys', keys);
  if (time !== null) command.push('--time', String(time));
  execFileSync(path.join(BIN_DIR, `${program}-headless`), command, { timeout: 60000 });
  const result = { pixels: pngPixels(png), trace: fs.readFileSync(trace, 'utf8') };
  fs.rmSync(directory, { recursive: true, force: true });
  return result;
}

// Where two RGBA pictures differ: null when they are the same.
export function firstDifference(browser, headless, width = 640) {
  if (browser.length !== headless.length) return `sizes differ: ${browser.length} and ${headless.length} bytes`;
  let count = 0;
  let first = -1;
  for (let index = 0; index < browser.length; index += 4) {
    if (browser.readUInt32BE(index) !== headless.readUInt32BE(index)) {
      if (first < 0) first = index / 4;
      ++count;
    }
  }
  if (count === 0) return null;
  const at = (buffer, pixel) => buffer.subarray(pixel * 4, pixel * 4 + 4).toString('hex');
  return `${count} pixels differ, the first at (${first % width}, ${Math.floor(first / width)}): ` +
         `browser ${at(browser, first)}, headless ${at(headless, first)}`;
}

// The texts the twin drew in its last frame, decoded from Shift-JIS.
export function textsOfLastFrame(trace) {
  const lines = trace.trim().split('\n').map(line => line.split(' '));
  const last = lines[lines.length - 1][0];
  const decoder = new TextDecoder('shift_jis');
  return lines.filter(([frame]) => frame === last).map(([, , , hex]) => decoder.decode(Buffer.from(hex, 'hex')));
}
