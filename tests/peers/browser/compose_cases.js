// Writing mail in a real Chromium through the user server, sending to a
// real SMTP server (the tests' aiosmtpd): a message with an uploaded
// attachment (the bytes the server received compared with the file), a
// reply with its quoted text, the forward of a multipart message with its
// attachment, a draft saved and opened again, recipients picked from the
// personal and the shared address book.
//
// prepare() starts the SMTP server, points the engine at it and fills the
// account "writer" through the seed tool; register() adds the cases to the
// runner of browser_test.js. The server stops when the runner ends.
'use strict';

const { execFileSync, spawn } = require('child_process');
const fs = require('fs');
const net = require('net');
const path = require('path');

const peerScript = path.resolve(__dirname, '..', 'smtp', 'run-smtp-peer');
let smtp = null;

function crlf(lines) {
  return lines.map((l) => l + '\r\n').join('');
}

// Bytes that survive nothing but a byte-exact path: every value, CR LF and
// lines that look like MIME boundaries.
function attachmentBytes(size) {
  const bytes = Buffer.alloc(size);
  for (let i = 0; i < size; i++) bytes[i] = (i * 2654435761) >>> 24;
  Buffer.from('\r\n--boundary\r\n.\r\n').copy(bytes, 1000);
  return bytes;
}

let smtpPort = 0;
function smtpListens() {
  return new Promise((resolve) => {
    const socket = net.connect(smtpPort, '127.0.0.1', () => { socket.destroy(); resolve(true); });
    socket.once('error', () => resolve(false));
  });
}

function prepare(root, seedTool, port) {
  const dir = path.join(root, 'Users', 'writer');
  fs.mkdirSync(dir, { recursive: true });
  fs.writeFileSync(path.join(dir, 'User.ini'), [
    '[User]', 'Password=-writer', 'FullName=Wanda Writer', 'EMail=wanda@corvane.test',
    '[MailHost1]', 'Mailbox=Home', 'FullName=Wanda Writer', 'EMail=wanda@corvane.test', 'Host=127.0.0.1',
    'User=wanda', 'Pass=-x', 'Active=No', 'Default=Yes', ''].join('\n'));
  const mailDir = fs.mkdtempSync(path.join(root, 'compose-mail-'));
  const file = (name, text) => {
    const p = path.join(mailDir, name);
    fs.writeFileSync(p, text);
    return p;
  };
  const b64 = attachmentBytes(5000).toString('base64').replace(/.{76}/g, '$&\r\n').trimEnd();
  execFileSync(seedTool, [dir, 'Inbox',
    file('question.eml', crlf(['From: Carl Quist <carl@example.org>', 'To: wanda@corvane.test',
      'Subject: Dinner on Friday?', 'Message-ID: <dinner@example.org>', 'Date: Wed, 06 Dec 2023 12:00:00 +0000', '',
      'Shall we meet at eight?', 'Bring the photos.'])),
    file('report.eml', crlf(['From: Dora <dora@example.org>', 'To: wanda@corvane.test', 'Subject: The report',
      'Date: Thu, 07 Dec 2023 12:00:00 +0000', 'MIME-Version: 1.0', 'Content-Type: multipart/mixed; boundary="m1"', '',
      '--m1', 'Content-Type: text/plain; charset=utf-8', '', 'Here it is.', '--m1',
      'Content-Type: application/octet-stream; name="figures.bin"', 'Content-Transfer-Encoding: base64',
      'Content-Disposition: attachment; filename="figures.bin"', '', b64, '--m1--']))]);

  // The book everyone on the server shares, read-only on the page.
  fs.writeFileSync(path.join(root, 'AddrBook.txt'), 'Hal Help Desk\thelp@example.org\tIT\r\nbroken line\r\n');

  smtpPort = port;
  const mail = path.join(root, 'smtp');
  fs.mkdirSync(mail);
  smtp = spawn('bash', [peerScript, mail, String(port)], { stdio: 'ignore' });
  process.on('exit', () => { if (smtp) smtp.kill('SIGTERM'); });
  fs.appendFileSync(path.join(root, 'Corvane.ini'),
    ['[SmtpClient]', 'Host=127.0.0.1', `Port=${port}`, 'HeloDomain=corvane.test', ''].join('\n'));
  return path.join(mail, 'mail');
}

function register(test, { check, waitFor }, received) {
  // Script errors and anything the pages' content security policy refused,
  // in every frame, for the case to check at its end.
  let refused = [];
  async function logon(page, userBase) {
    refused = [];
    page.on('pageerror', (e) => refused.push(e.message));
    page.on('console', (m) => {
      if (m.type() === 'error' && /Content Security Policy|Refused to/.test(m.text())) refused.push(m.text());
    });
    for (let i = 0; i < 200 && !(await smtpListens()); i++) await new Promise((r) => setTimeout(r, 50));
    await page.goto(`${userBase}/`);
    await page.fill('#cv-user', 'writer');
    await page.fill('#cv-password', 'writer');
    await Promise.all([page.waitForNavigation(), page.press('#cv-password', 'Enter')]);
    const frame = await (await page.waitForSelector('#cv-content')).contentFrame();
    await frame.waitForSelector('table.cv-messages');
    const link = /Session=([A-Z]{7})/.exec(frame.url());
    check(link, `no session in ${frame.url()}`);
    return { frame, session: `${userBase}/Corvane?Session=${link[1]}` };
  }

  // The messages the SMTP server has kept so far, oldest first.
  const messages = () => (fs.existsSync(received()) ? fs.readdirSync(received()) : [])
    .filter((f) => f.endsWith('.eml')).sort().map((f) => fs.readFileSync(path.join(received(), f)));
  async function nextMessage(before) {
    await waitFor(() => messages().length > before, 10000, 'the message at the SMTP server');
    return messages()[before].toString('latin1');
  }
  // The decoded bytes of an attachment of a received message.
  function attachment(eml, name) {
    const at = eml.indexOf(`filename="${name}"`);
    check(at >= 0, `no attachment ${name} in:\n${eml.slice(0, 3000)}`);
    const start = eml.indexOf('\r\n\r\n', at) + 4;
    return Buffer.from(eml.slice(start, eml.indexOf('\r\n--', start)).replace(/\r\n/g, ''), 'base64');
  }
  const send = async (frame) => {
    await Promise.all([frame.waitForNavigation(), frame.click('button[name="SendNow"]')]);
    await frame.waitForSelector('text=Your message has been sent.');
  };

  test('compose: a message with an uploaded attachment, sent', async ({ page, userBase }) => {
    const { frame, session } = await logon(page, userBase);
    const before = messages().length;
    await Promise.all([frame.waitForNavigation(), page.click('a.cv-compose')]);
    await frame.waitForSelector('#cv-body');
    await frame.fill('#cv-to', 'Bob <bob@example.org>');
    await frame.fill('#cv-subject', 'Figures for Friday — Grüße');
    await frame.fill('#cv-body', 'Hello Bob,\n.\nthe figures are attached.\n');
    await Promise.all([frame.waitForNavigation(), frame.click('button[name="Attach"]')]);
    const bytes = attachmentBytes(300000);
    await frame.setInputFiles('#cv-file', { name: 'figures.bin', mimeType: 'application/octet-stream', buffer: bytes });
    // A slow line, so the page shows the upload on its way.
    const cdp = await page.context().newCDPSession(page);
    await cdp.send('Network.enable');
    const line = (up) => cdp.send('Network.emulateNetworkConditions',
      { offline: false, latency: 0, downloadThroughput: -1, uploadThroughput: up });
    await line(100000);
    await frame.click('form[data-upload-progress] button[name="Attach"]');
    await frame.waitForFunction(() => {
      const bar = document.querySelector('progress.cv-upload-progress');
      return bar && !bar.hidden && bar.value > 0 && bar.value < 100;
    });
    await line(-1);
    await frame.waitForSelector('#cv-attachments option:text-is("figures.bin")');
    await Promise.all([frame.waitForNavigation(), frame.click('button[name="Finished"]')]);
    check(await frame.inputValue('#cv-body') === 'Hello Bob,\n.\nthe figures are attached.\n', 'the text was lost');
    check((await frame.textContent('form')).includes('(1 attachment)'), 'the attachment is not counted');
    await send(frame);

    const eml = await nextMessage(before);
    check(eml.includes('\r\nTo: Bob <bob@example.org>\r\n'), 'To');
    check(eml.includes('\r\n\r\nHello Bob,\r\n..\r\n') === false, 'a dot-stuffed line reached the message');
    check(eml.includes('\r\nHello Bob,\r\n.\r\nthe figures are attached.\r\n'), 'the text');
    check(attachment(eml, 'figures.bin').equals(bytes), 'the attachment differs from the file');
    check(session, 'session');
    check(refused.length === 0, refused.join('\n'));
  });

  test('compose: a reply quotes the message and goes to its sender', async ({ page, userBase }) => {
    const { frame, session } = await logon(page, userBase);
    const before = messages().length;
    await frame.goto(`${session}&View=Message&Number=1`);
    await Promise.all([frame.waitForNavigation(), frame.click('a[href*="Reply=Yes"]')]);
    check(await frame.inputValue('#cv-to') === '"Carl Quist" <carl@example.org>', await frame.inputValue('#cv-to'));
    check(await frame.inputValue('#cv-subject') === 'Re: Dinner on Friday?', await frame.inputValue('#cv-subject'));
    const text = await frame.inputValue('#cv-body');
    check(text.includes('-----Original Message-----\nFrom: Carl Quist <carl@example.org>\n'), text);
    check(text.includes('> Shall we meet at eight?\n> Bring the photos.\n'), text);
    await frame.fill('#cv-body', `Yes, at eight.\n${text}`);
    await send(frame);
    const eml = await nextMessage(before);
    check(eml.includes('\r\nIn-Reply-To: <dinner@example.org>\r\n'), 'In-Reply-To');
    check(eml.includes('\r\n> Shall we meet at eight?\r\n'), 'the quoted text');
    check(refused.length === 0, refused.join('\n'));
  });

  test('compose: forwarding a multipart message takes its attachment along', async ({ page, userBase }) => {
    const { frame, session } = await logon(page, userBase);
    const before = messages().length;
    await frame.goto(`${session}&View=Message&Number=2`);
    await Promise.all([frame.waitForNavigation(), frame.click('a[href*="Forward=Yes"]')]);
    check(await frame.inputValue('#cv-subject') === 'Fwd: The report', await frame.inputValue('#cv-subject'));
    check((await frame.textContent('form')).includes('(1 attachment)'), 'the attachment was not taken along');
    await frame.fill('#cv-to', 'erin@example.org');
    await send(frame);
    const eml = await nextMessage(before);
    check(attachment(eml, 'figures.bin').equals(attachmentBytes(5000)), 'the forwarded attachment differs');
    check(eml.includes('\r\nHere it is.\r\n'), 'the forwarded text');
    check(refused.length === 0, refused.join('\n'));
  });

  test('compose: a draft saved and opened again', async ({ page, userBase }) => {
    const { frame, session } = await logon(page, userBase);
    await frame.goto(`${session}&View=Compose&New=Yes`);
    await frame.fill('#cv-to', 'later@example.org');
    await frame.fill('#cv-subject', 'Not finished yet');
    await frame.fill('#cv-body', 'Half a thought');
    await Promise.all([frame.waitForNavigation(), frame.click('button[name="SendLater"]')]);
    await frame.goto(`${session}&View=List&Folder=Drafts`);
    await Promise.all([frame.waitForNavigation(), frame.click('td.cv-subject a:has-text("Not finished yet")')]);
    await frame.waitForSelector('#cv-body');
    check(await frame.inputValue('#cv-to') === 'later@example.org', await frame.inputValue('#cv-to'));
    check(await frame.inputValue('#cv-subject') === 'Not finished yet', 'subject');
    check((await frame.inputValue('#cv-body')).startsWith('Half a thought'), await frame.inputValue('#cv-body'));
    check(refused.length === 0, refused.join('\n'));
  });

  test('compose: recipients picked from the address book', async ({ page, userBase }) => {
    const { frame, session } = await logon(page, userBase);
    await frame.goto(`${session}&View=Compose&New=Yes`);
    await frame.fill('#cv-to', 'first@example.org');
    await Promise.all([frame.waitForNavigation(), frame.click('button[name="CCAddr"]')]);
    await frame.fill('input[name="AddrName:0"]', 'Gail Green');
    await frame.fill('input[name="AddrEMail:0"]', 'gail@example.org');
    await Promise.all([frame.waitForNavigation(), frame.click('button[name="Create"]')]);
    await frame.check('tbody input[name="AddrNum"]');
    check(!(await frame.content()).includes('broken line'), 'a malformed line of the shared book is listed');
    await frame.check('input[name="GlobalNum"][aria-label$="Hal Help Desk"]');
    await Promise.all([frame.waitForNavigation(), frame.click('button[name="Finished"]')]);
    await frame.waitForSelector('#cv-cc');
    check(await frame.inputValue('#cv-cc') === '"Gail Green" <gail@example.org>, "Hal Help Desk" <help@example.org>',
      await frame.inputValue('#cv-cc'));
    check(await frame.inputValue('#cv-to') === 'first@example.org', await frame.inputValue('#cv-to'));
    check(refused.length === 0, refused.join('\n'));
  });
}

module.exports = { prepare, register };
