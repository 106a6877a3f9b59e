// Browser tests: Debian's Chromium, driven by playwright-core, against the
// real web server started here on 127.0.0.1 with a temporary tree.
//
//   node browser_test.js LARKD TEST_CGI_PROGRAM [ENGINE_LIBRARY [SEED_TOOL]]
//
// Larkd serves static pages and a CGI program. With ENGINE_LIBRARY the
// user server (the Corvane link beside LARKD) runs too, hosting the engine
// with the shipped templates and a demo account. With SEED_TOOL an account
// with a full store is added for the cases of reading mail (mail_cases.js).
// CORVANE_BROWSER_CASES, a regular expression, picks the cases by name.
// Each case gets a fresh page; the servers' own logs are checked too. Exit
// code 0 when every case passed.
'use strict';

const { chromium } = require('playwright-core');
const { spawn } = require('child_process');
const fs = require('fs');
const net = require('net');
const os = require('os');
const path = require('path');

const [larkd, cgiProgram, engineLibrary, seedTool] = process.argv.slice(2).map((arg) => path.resolve(arg));
const mailCases = require('./mail_cases');
const composeCases = require('./compose_cases');
if (!larkd || !cgiProgram) {
  console.error('usage: browser_test.js LARKD TEST_CGI_PROGRAM [ENGINE_LIBRARY [SEED_TOOL]]');
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

const sourceDir = path.resolve(__dirname, '..', '..', '..');

function makeTree(port, userPort, smtpPort) {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'corvane-browser-'));
  for (const dir of ['HTML', 'cgi-bin', 'Temp', 'Logs', 'Users']) fs.mkdirSync(path.join(root, dir));
  const ini = [
    '[General]', 'RunAsService=No', 'LogLevel=1',
    '[Directories]', `TempDir=${root}/Temp`, `LogDir=${root}/Logs`, `BaseDir=${root}`,
    `TemplateDir=${sourceDir}/templates`, `UserDir=${root}/Users`,
    // The administration server runs its programs only with credentials
    // configured (which this machine's clients pass while LocalAuth is No).
    '[AdminWebServer]', `Port=${port}`, 'BindAddress=127.0.0.1', `HtmlDir=${root}/HTML`, `CgiDir=${root}/cgi-bin`,
    'Auth=-admin:s3cret',
  ];
  if (userPort) {
    ini.push('[WebServer]', `Port=${userPort}`, 'BindAddress=127.0.0.1', `HtmlDir=${root}/HTML`,
      `CgiDir=${root}/cgi-bin`, 'CgiBase1=/Corvane', `CgiFile1=${engineLibrary}`);
    fs.mkdirSync(path.join(root, 'Users', 'demo'));
    fs.writeFileSync(path.join(root, 'Users', 'demo', 'User.ini'), '[User]\nPassword=-demo\nFullName=Demo User\n');
    fs.cpSync(path.join(sourceDir, 'html'), path.join(root, 'HTML'), {
      recursive: true, filter: (src) => !src.endsWith('CMakeLists.txt'),
    });
  }
  ini.push('');
  fs.writeFileSync(path.join(root, 'Corvane.ini'), ini.join('\n'));
  fs.writeFileSync(path.join(root, 'MimeTypes.cfg'),
    'text/html html htm\ntext/css css\nimage/gif gif\napplication/javascript js\n');
  if (userPort && seedTool) mailCases.prepare(root, seedTool);
  if (userPort && seedTool) received = composeCases.prepare(root, seedTool, smtpPort);
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

// program: Larkd, or the Corvane link beside it (the user server).
async function startServer(root, program = larkd, pidName = 'Larkd.pid') {
  const env = { ...process.env, CORVANE_INI: path.join(root, 'Corvane.ini'), CORVANE_INSTANCE: `browser${process.pid}` };
  const child = spawn(program, [], { env, stdio: ['ignore', 'inherit', 'inherit'] });
  let exited = false;
  child.once('exit', () => { exited = true; });
  const pidFile = path.join(root, 'Logs', pidName);
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

// The engine through the user server: the logon page at "/", a logon with
// the demo account, the Main page with the list in its content frame, the
// logout and its message, and the ended session's link.
if (engineLibrary) {
  test('the engine: logon page, logon, Main page, logout', async ({ page, userBase, root }) => {
    const logon = await page.goto(`${userBase}/`);
    check(logon.status() === 200, `status ${logon.status()}`);
    check((await page.title()).startsWith('Sign in'), `title ${await page.title()}`);
    const rules = await page.evaluate(() => [...document.styleSheets].reduce((n, sheet) => n + sheet.cssRules.length, 0));
    check(rules > 0, 'the style sheet did not load');

    await page.fill('#cv-user', 'demo');
    await page.fill('#cv-password', 'demo');
    await Promise.all([page.waitForNavigation(), page.press('#cv-password', 'Enter')]);
    check((await page.title()).startsWith('Messages'), `Main page title ${await page.title()}`);
    const content = await (await page.waitForSelector('#cv-content')).contentFrame();
    await content.waitForSelector('text=There are no messages in this folder.');
    const listUrl = content.url();
    check(/Session=[A-Z]{7}/.test(listUrl), `the frame's address ${listUrl}`);

    const cookies = await page.context().cookies();
    const key = cookies.find((c) => c.name.startsWith('CorvaneKey_'));
    check(key && key.httpOnly && key.sameSite === 'Strict', `session key cookie ${JSON.stringify(key)}`);
    check(cookies.some((c) => c.name === 'User' && c.value === 'demo'), 'the User cookie');
    check(!(await page.evaluate(() => document.cookie)).includes('CorvaneKey_'), 'the key is visible to scripts');

    await Promise.all([page.waitForNavigation(), page.click('a[href*="View=Logout"]')]);
    check((await page.title()).startsWith('Signed out'), `logout title ${await page.title()}`);
    check((await page.textContent('body')).includes('You have been signed out.'), 'the logged-out message');
    check(!(await page.context().cookies()).some((c) => c.name.startsWith('CorvaneKey_')), 'the key cookie stayed');

    // The old link now leads to the logon page.
    await page.goto(listUrl);
    check((await page.$('#cv-password')) !== null, 'the ended session still answers');

    const logs = fs.readdirSync(path.join(root, 'Logs')).map((f) => fs.readFileSync(path.join(root, 'Logs', f), 'utf8')).join('\n');
    check(logs.includes('Session created for demo from 127.0.0.1'), 'the engine log has no logon');
    check(logs.includes('User demo logging out'), 'the engine log has no logout');
    check(/"POST \/Corvane[^ ]* HTTP\/1\.1" 200/.test(logs), 'the access log has no logon');
    check(!/^Password=-/m.test(fs.readFileSync(path.join(root, 'Users', 'demo', 'User.ini'), 'utf8')),
      'the demo password was not scrambled');
  });

  // Another site (localhost is not 127.0.0.1 to a browser) posts the demo
  // account's logon to the engine: the browser must not come back signed in.
  test('the engine: a logon posted by another site is refused', async ({ page, base, userBase, root }) => {
    const evil = `${base.replace('127.0.0.1', 'localhost')}/evil.html`;
    fs.writeFileSync(path.join(root, 'HTML', 'evil.html'),
      '<!DOCTYPE html><html><head><meta charset="utf-8"><title>Win a prize</title></head><body>' +
      `<form id="f" method="post" action="${userBase}/Corvane">` +
      '<input type="hidden" name="User" value="demo"><input type="hidden" name="Password" value="demo">' +
      '</form><script>document.getElementById("f").submit();</script></body></html>\n');
    const logPath = path.join(root, 'Logs', 'Corvane.log');
    const before = fs.existsSync(logPath) ? fs.statSync(logPath).size : 0;
    await Promise.all([page.waitForURL(`${userBase}/**`), page.goto(evil)]);
    await page.waitForSelector('#cv-password');
    check((await page.textContent('body')).includes('This request came from another web site and was refused.'),
      'the refusal is not shown');
    check(!(await page.context().cookies()).some((c) => c.name.startsWith('CorvaneKey_')), 'signed in after all');
    const log = fs.readFileSync(logPath, 'utf8').slice(before);
    check(log.includes('Request from another site refused: Origin "http://localhost:'), 'the engine log does not say why');
    check(!log.includes('Session created for demo'), 'a session was made');
  });
} else {
  console.log('skip  the engine cases: no engine library given');
}
if (engineLibrary && seedTool) mailCases.register(test, { check, waitFor });
// Where the SMTP server of the compose cases keeps what it receives.
let received = '';
if (engineLibrary && seedTool) composeCases.register(test, { check, waitFor }, () => received);

// ---- running them ------------------------------------------------------------------

(async () => {
  const port = await freePort();
  const userPort = engineLibrary ? await freePort() : 0;
  const smtpPort = engineLibrary && seedTool ? await freePort() : 0;
  const root = makeTree(port, userPort, smtpPort);
  const base = `http://127.0.0.1:${port}`;
  const userBase = userPort ? `http://127.0.0.1:${userPort}` : null;
  let server;
  let userServer;
  let browser;
  let failures = 0;
  try {
    server = await startServer(root);
    if (userPort) userServer = await startServer(root, path.join(path.dirname(larkd), 'Corvane'), 'Corvane.pid');
    browser = await chromium.launch({
      executablePath: process.env.CHROME || '/usr/bin/chromium',
      args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    });
    console.log(`chromium ${browser.version()}, server at ${base}`);
    const only = process.env.CORVANE_BROWSER_CASES ? new RegExp(process.env.CORVANE_BROWSER_CASES) : null;
    for (const c of cases) {
      if (only && !only.test(c.name)) continue;
      const context = await browser.newContext();
      const page = await context.newPage();
      page.setDefaultTimeout(20000);
      const started = Date.now();
      try {
        await c.body({ page, base, userBase, root, browser });
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
    for (const [name, child] of [['Larkd', server], ['Corvane', userServer]]) {
      if (!child) continue;
      const code = await stopServer(child);
      if (code !== 0) {
        failures++;
        console.log(`FAIL  ${name} ended with ${code}`);
      }
    }
    for (const name of ['Larkd-admin.log', 'Larkd-user.log', 'Corvane.log']) {
      const log = path.join(root, 'Logs', name);
      if (failures && fs.existsSync(log)) console.log(`== ${name}\n${fs.readFileSync(log, 'utf8')}`);
    }
    fs.rmSync(root, { recursive: true, force: true });
  }
  console.log(failures ? `${failures} failed` : `all ${cases.length} passed`);
  process.exit(failures ? 1 : 0);
})();
