// Browser tests: Debian's Chromium, driven by playwright-core, against the
// real web server started here on 127.0.0.1 with a temporary tree.
//
//   node browser_test.js LARKD TEST_CGI_PROGRAM [ENGINE_LIBRARY]
//
// Each case gets a fresh page; the server's own logs are checked after the
// browser has gone. Exit code 0 when every case passed.
'use strict';

const { chromium } = require('playwright-core');
const { spawn } = require('child_process');
const fs = require('fs');
const net = require('net');
const os = require('os');
const path = require('path');

const [larkd, cgiProgram, engineLibrary] = process.argv.slice(2);
if (!larkd || !cgiProgram) {
  console.error('usage: browser_test.js LARKD TEST_CGI_PROGRAM [ENGINE_LIBRARY]');
  process.exit(2);
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function check(condition, message) {
  if (!condition) throw new Error(message);
}

async function freePort() {
  return new Promise((resolve, reject) => {
    const probe = net.createServer();
    probe.once('error', reject);
    probe.listen(0, '127.0.0.1', () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
  });
}

async function waitFor(predicate, limitMs, what) {
  const deadline = Date.now() + limitMs;
  while (Date.now() < deadline) {
    if (predicate()) return;
    await sleep(25);
  }
  throw new Error(`timed out waiting for ${what}`);
}

// ---- the server -----------------------------------------------------------------

function makeTree(port) {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'corvane-browser-'));
  for (const dir of ['HTML', 'cgi-bin', 'Temp', 'Logs']) fs.mkdirSync(path.join(root, dir));
  fs.writeFileSync(path.join(root, 'Corvane.ini'), [
    '[General]', 'RunAsService=No', 'LogLevel=1',
    '[Directories]', `TempDir=${root}/Temp`, `LogDir=${root}/Logs`, `BaseDir=${root}`,
    '[AdminWebServer]', `Port=${port}`, 'BindAddress=127.0.0.1', `HtmlDir=${root}/HTML`, `CgiDir=${root}/cgi-bin`,
    '',
  ].join('\n'));
  fs.writeFileSync(path.join(root, 'MimeTypes.cfg'), 'text/html html htm\ntext/css css\nimage/gif gif\n');
  fs.writeFileSync(path.join(root, 'HTML', 'index.html'),
    '<!DOCTYPE html><html><head><meta charset="utf-8"><title>Corvane static page</title>' +
    '<link rel="stylesheet" href="/style.css"></head>' +
    '<body><h1 id="greeting">Served by Larkd</h1><a id="form" href="/form.html">form</a></body></html>\n');
  fs.writeFileSync(path.join(root, 'HTML', 'style.css'), 'h1 { color: rgb(0, 128, 0); }\n');
  fs.writeFileSync(path.join(root, 'HTML', 'form.html'),
    '<!DOCTYPE html><html><head><meta charset="utf-8"><title>Compose</title></head><body>' +
    '<form method="post" action="/cgi-bin/echo.cgi?from=form" accept-charset="utf-8">' +
    '<input id="to" name="to"><input id="subject" name="subject">' +
    '<textarea id="body" name="body"></textarea><button id="send" type="submit">Send</button>' +
    '</form></body></html>\n');
  fs.copyFileSync(cgiProgram, path.join(root, 'cgi-bin', 'echo.cgi'));
  fs.chmodSync(path.join(root, 'cgi-bin', 'echo.cgi'), 0o755);
  return root;
}

async function startServer(root) {
  const env = { ...process.env, CORVANE_INI: path.join(root, 'Corvane.ini'), CORVANE_INSTANCE: `browser${process.pid}` };
  const child = spawn(larkd, [], { env, stdio: ['ignore', 'inherit', 'inherit'] });
  let exited = false;
  child.once('exit', () => { exited = true; });
  const pidFile = path.join(root, 'Logs', 'Larkd.pid');
  await waitFor(() => exited || fs.existsSync(pidFile), 20000, 'the server to start');
  check(!exited, 'the server did not start');
  return child;
}

async function stopServer(child) {
  if (child.exitCode !== null) return child.exitCode;
  const done = new Promise((resolve) => child.once('exit', (code) => resolve(code)));
  child.kill('SIGTERM');
  const code = await Promise.race([done, sleep(15000).then(() => 'timeout')]);
  if (code === 'timeout') child.kill('SIGKILL');
  return code;
}

// ---- the cases ---------------------------------------------------------------------

const cases = [];
const test = (name, body) => cases.push({ name, body });

test('a static page with its style sheet', async ({ page, base }) => {
  const response = await page.goto(`${base}/`);
  check(response.status() === 200, `status ${response.status()}`);
  check(response.headers()['content-type'] === 'text/html', `type ${response.headers()['content-type']}`);
  check((await page.title()) === 'Corvane static page', `title ${await page.title()}`);
  check((await page.textContent('#greeting')) === 'Served by Larkd', 'greeting');
  const color = await page.$eval('#greeting', (e) => getComputedStyle(e).color);
  check(color === 'rgb(0, 128, 0)', `the style sheet did not apply: ${color}`);
});

test('a reload revalidates with If-Modified-Since', async ({ page, base, root }) => {
  await page.goto(`${base}/index.html`);
  const again = await page.reload();
  check((await page.textContent('#greeting')) === 'Served by Larkd', 'page after reload');
  // Chromium shows the cached page; the server answered 304.
  check(again.status() === 200 || again.status() === 304, `reload status ${again.status()}`);
  await waitFor(() => fs.readFileSync(path.join(root, 'Logs', 'http-admin.log'), 'utf8')
    .includes('"GET /index.html HTTP/1.1" 304 0'), 5000, 'a 304 in the access log');
});

test('a form posted to a CGI program', async ({ page, base }) => {
  await page.goto(`${base}/form.html`);
  await page.fill('#to', 'bob@example.com');
  await page.fill('#subject', 'Grüße');
  await page.fill('#body', 'line1\nline2');
  await Promise.all([page.waitForURL('**/cgi-bin/echo.cgi?from=form'), page.click('#send')]);
  const text = await page.textContent('body');
  const has = (line) => check(text.includes(line + '\n'), `missing "${line}" in:\n${text}`);
  has('REQUEST_METHOD=POST');
  has('CONTENT_TYPE=application/x-www-form-urlencoded');
  has('SCRIPT_NAME=/cgi-bin/echo.cgi');
  has('QUERY_STRING=from=form');
  has('BODY=to=bob%40example.com&subject=Gr%C3%BC%C3%9Fe&body=line1%0D%0Aline2');
  const length = /CONTENT_LENGTH=(\d+)/.exec(text);
  check(length && Number(length[1]) === 'to=bob%40example.com&subject=Gr%C3%BC%C3%9Fe&body=line1%0D%0Aline2'.length,
    'CONTENT_LENGTH');
});

// The engine through the server goes here once the engine's request
// dispatcher answers the logon form: start the user server (the Corvane
// link, CgiFile1 = ENGINE_LIBRARY) with a test account, open the logon page
// at "/", log on, see the Main page, log out and see the logged-out message.
// The runner already takes ENGINE_LIBRARY as its third argument.
void engineLibrary;

// ---- running them ------------------------------------------------------------------

(async () => {
  const port = await freePort();
  const root = makeTree(port);
  const base = `http://127.0.0.1:${port}`;
  let server;
  let browser;
  let failures = 0;
  try {
    server = await startServer(root);
    browser = await chromium.launch({
      executablePath: process.env.CHROME || '/usr/bin/chromium',
      args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    });
    console.log(`chromium ${browser.version()}, server at ${base}`);
    for (const c of cases) {
      const context = await browser.newContext();
      const page = await context.newPage();
      page.setDefaultTimeout(20000);
      const started = Date.now();
      try {
        await c.body({ page, base, root });
        console.log(`ok    ${c.name} (${Date.now() - started} ms)`);
      } catch (e) {
        failures++;
        console.log(`FAIL  ${c.name}: ${e.message}`);
      }
      await context.close();
    }
  } catch (e) {
    failures++;
    console.log(`FAIL  setting up: ${e.stack || e}`);
  } finally {
    if (browser) await browser.close();
    if (server) {
      const code = await stopServer(server);
      if (code !== 0) {
        failures++;
        console.log(`FAIL  the server ended with ${code}`);
      }
    }
    const log = path.join(root, 'Logs', 'Larkd-admin.log');
    if (failures && fs.existsSync(log)) console.log(fs.readFileSync(log, 'utf8'));
    fs.rmSync(root, { recursive: true, force: true });
  }
  console.log(failures ? `${failures} failed` : `all ${cases.length} passed`);
  process.exit(failures ? 1 : 0);
})();
