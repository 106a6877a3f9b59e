// Reading mail in a real Chromium through the user server: the message
// list of a 203-message Inbox (sorting by every column, paging), plain,
// HTML and multipart messages with an inline picture, a download compared
// byte for byte, the print and source views, move, delete, empty Trash,
// a folder made on the Folders page, Help, and every hostile vector of the
// sanitiser's data files shown through the Message view with the page's
// security policy switched off, so the sanitiser alone must keep scripts
// from running and requests from leaving.
//
// prepare() fills the account "reader" through the seed tool before the
// servers start; register() adds the cases to the runner of browser_test.js.
'use strict';

const { execFileSync } = require('child_process');
const fs = require('fs');
const path = require('path');

const generatedCount = 200;
const vectorsDir = path.resolve(__dirname, '..', '..', 'engine', 'store', 'html_sanitizer', 'vectors');

// Bytes of an attachment, the same every run.
function binaryAttachment() {
  const bytes = Buffer.alloc(70000);
  for (let i = 0; i < bytes.length; i++) bytes[i] = (i * 7919) >> 3 & 0xff;
  return bytes;
}

function crlf(lines) {
  return lines.map((l) => l + '\r\n').join('');
}

function samples() {
  const b64 = binaryAttachment().toString('base64').replace(/.{76}/g, '$&\r\n');
  const dot = 'R0lGODlhEAAQAPAAAP8AAAAAACH5BAAAAAAALAAAAAAQABAAAAIOhI+py+0Po5y02ouzPgUAOw==';
  return [
    crlf(['From: Bob Stone <bob@example.org>', 'To: reader@example.org',
      'Subject: =?utf-8?B?R3LDvMOfZSBhdXMgQmVybGlu?=', 'Date: Wed, 06 Dec 2023 12:00:00 +0000',
      'Content-Type: text/plain; charset=iso-8859-1', 'Content-Transfer-Encoding: quoted-printable', '',
      'Hallo,', '', 'sch=F6ne Gr=FC=DFe aus Berlin. Mehr unter www.example.org/berlin, oder an bob@example.org.',
      '<b>nicht fett</b> & so.']),
    crlf(['From: "Newsletter" <news@example.org>', 'To: reader@example.org', 'Subject: Weekly news',
      'Date: Mon, 04 Dec 2023 10:00:00 +0000', 'MIME-Version: 1.0',
      'Content-Type: multipart/alternative; boundary="alt1"', '', '--alt1', 'Content-Type: text/plain', '',
      'Plain version.', '--alt1', 'Content-Type: text/html; charset=utf-8', '',
      '<html><head><style>p{color:red}</style></head><body>',
      '<h1 style="color:#1c5bb8">Weekly news</h1><p>Read <a href="https://example.org/more">more</a>.</p>',
      '<img src="https://img.example.invalid/tracker.png" alt="tracker" width="20" height="20">',
      '<script>alert(1)</script></body></html>', '--alt1--']),
    crlf(['From: Ann Lee <ann@example.org>', 'To: reader@example.org', 'Subject: Photo and data',
      'Date: Tue, 05 Dec 2023 11:00:00 +0000', 'MIME-Version: 1.0', 'Content-Type: multipart/related; boundary="r1"',
      '', '--r1', 'Content-Type: text/html; charset=utf-8', '',
      '<p>Look:</p><img src="cid:dot@example.org" alt="a red dot"><p>Nice?</p>', '--r1',
      'Content-Type: image/gif; name="dot.gif"', 'Content-Transfer-Encoding: base64', 'Content-ID: <dot@example.org>',
      '', dot, '--r1', 'Content-Type: application/octet-stream; name="data.bin"',
      'Content-Transfer-Encoding: base64', '', b64.trimEnd(), '--r1--']),
  ];
}

// [{ file, number, html }] of every vector, in file order.
function vectors() {
  const out = [];
  for (const file of fs.readdirSync(vectorsDir).filter((f) => f.endsWith('.txt')).sort()) {
    const text = fs.readFileSync(path.join(vectorsDir, file));
    const sep = Buffer.from('\n=====\n');
    let pos = text.indexOf(sep);
    let n = 0;
    while (pos >= 0) {
      const start = pos + sep.length;
      const next = text.indexOf(sep, start);
      out.push({ file, number: ++n, html: text.subarray(start, next < 0 ? text.length : next) });
      pos = next;
    }
  }
  return out;
}

function prepare(root, seedTool) {
  const dir = path.join(root, 'Users', 'reader');
  fs.mkdirSync(dir, { recursive: true });
  fs.writeFileSync(path.join(dir, 'User.ini'), '[User]\nPassword=-reader\nFullName=Reader\n');
  const seed = (folder, args) => execFileSync(seedTool, [dir, folder, ...args]);
  seed('Inbox', ['--generate', String(generatedCount)]);
  const mailDir = fs.mkdtempSync(path.join(root, 'mail-'));
  const files = samples().map((text, i) => {
    const file = path.join(mailDir, `sample${i}.eml`);
    fs.writeFileSync(file, text);
    return file;
  });
  seed('Inbox', files);
  seed('Archive', ['--generate', '0']);
  const vectorFiles = vectors().map((v, i) => {
    const file = path.join(mailDir, `vector${i}.eml`);
    fs.writeFileSync(file, Buffer.concat([Buffer.from(crlf(['From: x@example.org', `Subject: ${v.file} #${v.number}`,
      'Content-Type: text/html; charset=utf-8', ''])), Buffer.from('<html><body>'), v.html,
    Buffer.from('</body></html>\r\n')]));
    return file;
  });
  seed('Vectors', vectorFiles);
}

function register(test, { check, waitFor }) {
  const sampleNumber = (i) => generatedCount + 1 + i;
  const firstVector = generatedCount + samples().length + 1;

  async function logon(page, userBase) {
    await page.goto(`${userBase}/`);
    await page.fill('#cv-user', 'reader');
    await page.fill('#cv-password', 'reader');
    await Promise.all([page.waitForNavigation(), page.press('#cv-password', 'Enter')]);
    const frame = await (await page.waitForSelector('#cv-content')).contentFrame();
    await frame.waitForSelector('table.cv-messages');
    const link = /Session=([A-Z]{7})/.exec(frame.url());
    check(link, `no session in ${frame.url()}`);
    return { frame, session: `${userBase}/Corvane?Session=${link[1]}` };
  }

  // Everything a page asks for beyond the server is refused and remembered.
  async function guard(context, userBase) {
    const outside = [];
    await context.route('**/*', (route) => {
      const url = route.request().url();
      if (url.startsWith(userBase + '/') || url.startsWith('data:')) return route.continue();
      outside.push(url);
      return route.abort();
    });
    return outside;
  }

  const subjects = (frame) => frame.$$eval('tbody td.cv-subject', (cells) => cells.map((c) => c.textContent.trim()));
  const rows = (frame) => frame.$$eval('tbody input[name="Number"]', (boxes) => boxes.length);

  test('mail: the list of a large folder, sorted by every column and paged', async ({ page, userBase }) => {
    const outside = await guard(page.context(), userBase);
    const { frame } = await logon(page, userBase);
    check((await frame.textContent('.cv-meta')).includes('203'), await frame.textContent('.cv-meta'));
    check(await rows(frame) === 50, `${await rows(frame)} rows on the first page`);
    // Newest first by default; the three samples are the newest.
    check((await subjects(frame))[0] === 'Grüße aus Berlin', `first ${(await subjects(frame))[0]}`);

    const key = (s) => s.toLowerCase().replace(/^(re|fw):\s?|^fwd:\s?/i, '');
    // Sizes and dates sort largest and newest first, names and subjects A to Z.
    const sorted = (a) => a.map(key).every((s, i, all) => i === 0 || all[i - 1] <= s);
    for (const [column, first, ordered] of [
      ['Subject', 'ascending', async () => sorted(await subjects(frame))],
      ['From', 'ascending', async () => sorted(await frame.$$eval('tbody td.cv-who-col', (c) => c.map((x) => x.textContent)))],
      ['Size', 'descending', async () => true],
    ]) {
      await Promise.all([frame.waitForNavigation(), frame.click(`th[data-key="${column}"] a`)]);
      const th = await frame.$(`th[data-key="${column}"]`);
      check(await th.getAttribute('aria-sort') === first, `${column} not marked ${first}`);
      check(await ordered(), `not in ${column} order: ${(await subjects(frame)).slice(0, 5)}`);
      // The same heading again reverses the order.
      await Promise.all([frame.waitForNavigation(), frame.click(`th[data-key="${column}"] a`)]);
      const again = first === 'ascending' ? 'descending' : 'ascending';
      check(await (await frame.$(`th[data-key="${column}"]`)).getAttribute('aria-sort') === again,
        `${column} not reversed`);
    }
    await Promise.all([frame.waitForNavigation(), frame.click('th[data-key="Size"] a')]);
    const sizes = await frame.$$eval('tbody td.cv-size', (cells) => cells.map((c) => parseInt(c.textContent, 10)));
    check(sizes.every((s, i) => i === 0 || sizes[i - 1] >= s), `sizes not descending: ${sizes.slice(0, 8)}`);
    await Promise.all([frame.waitForNavigation(), frame.click('th[data-key="Date"] a')]);
    check((await subjects(frame))[0] === 'Grüße aus Berlin', 'newest first again');

    await Promise.all([frame.waitForNavigation(), frame.click('.cv-pages a:text-is("2")')]);
    check(await frame.textContent('.cv-pages [aria-current="page"]') === '2', 'not on page 2');
    await Promise.all([frame.waitForNavigation(), frame.click('.cv-pages a:text-is("5")')]);
    check(await rows(frame) === 3, `${await rows(frame)} rows on the last page`);
    check(outside.length === 0, `requests left the server: ${outside}`);
  });

  test('mail: plain, HTML and multipart messages, download, print and source', async ({ page, userBase, root }) => {
    const outside = await guard(page.context(), userBase);
    const { frame, session } = await logon(page, userBase);
    const dialogs = [];
    page.on('dialog', (d) => { dialogs.push(d.message()); d.dismiss(); });

    await frame.goto(`${session}&View=Message&Number=${sampleNumber(0)}`);
    const body = await frame.innerHTML('.cv-body');
    check(body.includes('schöne Grüße aus Berlin'), 'charset not converted');
    check(body.includes('href="http://www.example.org/berlin"'), 'www. address not linked');
    check(/View=Compose&amp;To=bob%40example.org&amp;New=Yes/.test(body), 'address not a compose link');
    check(body.includes('&lt;b&gt;nicht fett&lt;/b&gt;'), 'text markup not escaped');

    await frame.goto(`${session}&View=Message&Number=${sampleNumber(1)}`);
    check(await frame.$eval('.cv-html h1', (h) => getComputedStyle(h).color) === 'rgb(28, 91, 184)',
      'the style of the message did not apply');
    check(await frame.$('.cv-html img[alt="tracker"][src]') === null, 'a remote picture kept its address');
    check(outside.length === 0, `requests left before asked: ${outside}`);
    await Promise.all([frame.waitForNavigation(), frame.click('.cv-remote a')]);
    await waitFor(() => outside.some((u) => u.startsWith('https://img.example.invalid/')), 5000, 'the picture asked for');
    outside.length = 0;

    await frame.goto(`${session}&View=Message&Number=${sampleNumber(2)}`);
    await frame.waitForFunction(() => {
      const img = document.querySelector('.cv-html img[alt="a red dot"]');
      return img && img.complete && img.naturalWidth === 16;
    });
    const [download] = await Promise.all([page.waitForEvent('download'), frame.click('a[download]:text-is("data.bin")')]);
    const saved = path.join(root, 'download.bin');
    await download.saveAs(saved);
    check(fs.readFileSync(saved).equals(binaryAttachment()), 'the download differs from the attachment');

    const [print] = await Promise.all([page.context().waitForEvent('page'), frame.click('a:text-is("Print")')]);
    await print.waitForLoadState();
    const printed = await print.content();
    check(printed.includes('<tt>') && printed.includes('Photo and data'), 'print view');
    check(!printed.includes('cv-page'), 'the print view uses a template');
    await print.close();
    const [source] = await Promise.all([page.context().waitForEvent('page'), frame.click('a:text-is("Source")')]);
    await source.waitForLoadState();
    check((await source.textContent('body')).includes('Content-ID: <dot@example.org>'), 'source view');
    await source.close();
    check(dialogs.length === 0, `script ran: ${dialogs}`);
    check(outside.length === 0, `requests left the server: ${outside}`);
  });

  test('mail: move, delete to Trash, empty Trash, a new folder, Help', async ({ page, userBase }) => {
    const outside = await guard(page.context(), userBase);
    const { frame, session } = await logon(page, userBase);
    page.on('dialog', (d) => d.accept());
    const pick = async (subject) => {
      const number = await frame.$$eval('tbody tr', (trs, wanted) => {
        const row = trs.find((tr) => tr.querySelector('td.cv-subject')?.textContent.trim() === wanted);
        return row ? row.querySelector('input[name="Number"]').value : null;
      }, subject);
      check(number, `no row for ${subject}`);
      await frame.check(`input[name="Number"][value="${number}"]`);
    };
    await frame.goto(`${session}&View=List&Sort=RevDate`);
    const [moved, deleted] = (await subjects(frame)).slice(3, 5);
    await pick(moved);
    await frame.selectOption('#cv-dest', 'Archive');
    await Promise.all([frame.waitForNavigation(), frame.click('button[name="Move"]')]);
    check(!(await subjects(frame)).includes(moved), 'still in the Inbox');
    await pick(deleted);
    await Promise.all([frame.waitForNavigation(), frame.click('button[name="Delete"]')]);
    check(!(await subjects(frame)).includes(deleted), 'still in the Inbox after delete');

    await Promise.all([frame.waitForNavigation(), page.click('.cv-nav a:has-text("Archive")')]);
    check((await subjects(frame)).includes(moved), 'not in Archive');
    await Promise.all([frame.waitForNavigation(), page.click('.cv-nav a:has-text("Trash")')]);
    check((await subjects(frame)).includes(deleted), 'not in the Trash');
    await Promise.all([frame.waitForNavigation(), frame.click('button[name="EmptyTrash"]')]);
    check((await subjects(frame)).length === 0, 'the Trash is not empty');

    // A folder made on the Folders page joins the navigation at the next list.
    await Promise.all([frame.waitForNavigation(), page.click('.cv-nav a:text-is("Folders")')]);
    await frame.fill('#cv-new-folder', 'Receipts 2027');
    await Promise.all([frame.waitForNavigation(), frame.click('button[name="Create"]')]);
    check(await frame.$('td.cv-folder-name a:text-is("Receipts 2027")'), 'not on the Folders page');
    await Promise.all([frame.waitForNavigation(), page.click('.cv-nav a:has-text("Archive")')]);
    await page.waitForSelector('.cv-nav a:has-text("Receipts 2027")');
    await Promise.all([frame.waitForNavigation(), page.click('.cv-nav a:has-text("Receipts 2027")')]);
    check((await frame.title()).startsWith('Receipts 2027'), `list title ${await frame.title()}`);

    await Promise.all([frame.waitForNavigation(), page.click('.cv-nav a:text-is("Help")')]);
    check((await frame.title()).startsWith('Help'), `help title ${await frame.title()}`);
    check(outside.length === 0, `requests left the server: ${outside}`);
  });

  test('mail: hostile HTML through the Message view, without the page policy', async ({ browser, userBase }) => {
    const context = await browser.newContext({ bypassCSP: true });
    try {
      const page = await context.newPage();
      page.setDefaultTimeout(20000);
      const outside = await guard(context, userBase);
      const ran = [];
      page.on('dialog', (d) => { ran.push(d.message()); d.dismiss(); });
      const { session } = await logon(page, userBase);
      const all = vectors();
      const failures = [];
      for (let i = 0; i < all.length; i++) {
        const before = ran.length + outside.length;
        const response = await page.goto(`${session}&View=Message&Number=${firstVector + i}&Folder=Vectors`);
        check(response.status() === 200, `status ${response.status()}`);
        await page.waitForLoadState('load');
        if (ran.length + outside.length > before)
          failures.push(`${all[i].file} #${all[i].number}: ran ${ran.slice(-1)} left ${outside.slice(-1)}`);
      }
      check(all.length >= 200, `only ${all.length} vectors`);
      check(failures.length === 0, failures.join('\n'));
    } finally {
      await context.close();
    }
  });
}

module.exports = { prepare, register };
