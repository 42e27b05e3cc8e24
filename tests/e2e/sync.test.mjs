// Sync that cannot lose work, in the page with the real account service: two program folders on
// one account, and a relay of the tests' own between them and the service that can act out
// answers a real service never gives (unreadable bodies, a lost answer). One row per fault a hunt
// for lost work found.

import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import http from 'node:http';
import { cpSync, existsSync, mkdtempSync, readdirSync, readFileSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { makeFolder, startProgram, launchBrowser, openPage, setCode, editorText, waitFor, judgeReady, ROOT } from './harness.mjs';
import { smallBank, SUM_REFERENCE } from './fixtures.mjs';

const CLOUD = process.env.TAVRIN_CLOUD || join(ROOT, 'build/linux/tavrin-cloud');
const PASSWORD = 'correct horse';
const NAME = '同步';
const BACKWARDS = '云端记录比本机旧，可能被恢复过备份，本机的进度没有改动。';
const MALFORMED = '云端返回的记录无法识别，本机的进度没有改动。';
const work = mkdtempSync(join(tmpdir(), 'tavrin-e2e-sync-'));
const serviceData = join(work, 'service');

async function startService(port = 0) {
  const proc = spawn(CLOUD, ['--listen', `127.0.0.1:${port}`, '--data', serviceData,
    '--argon2-ops', '1', '--argon2-mem-kib', '64'], { stdio: ['ignore', 'pipe', 'pipe'] });
  let out = '';
  proc.stdout.on('data', (d) => { out += d; });
  const url = await waitFor(() => (/https?:\/\/127\.0\.0\.1:\d+/.exec(out) || [])[0], 30000, 'the service to start');
  const exited = new Promise((resolve) => proc.on('exit', resolve));
  return { proc, url, port: Number(url.split(':').pop()), async stop() { proc.kill('SIGTERM'); await exited; } };
}

// Forwards to the service; can answer GET /v1/progress with a body of its own, or forward a PUT
// and then drop the connection before the answer reaches the program.
function startRelay() {
  const relay = { target: 0, pull: null, losePut: false, puts: 0 };
  const server = http.createServer((req, res) => {
    const chunks = [];
    req.on('data', (c) => chunks.push(c));
    req.on('end', () => {
      if (relay.pull !== null && req.method === 'GET' && req.url === '/v1/progress') {
        res.writeHead(200, { 'Content-Type': 'application/json' });
        res.end(relay.pull);
        return;
      }
      if (req.method === 'PUT') relay.puts++;
      const lose = relay.losePut && req.method === 'PUT';
      const out = http.request({ host: '127.0.0.1', port: relay.target, method: req.method, path: req.url, headers: req.headers }, (answer) => {
        const parts = [];
        answer.on('data', (c) => parts.push(c));
        answer.on('end', () => {
          if (lose) { req.socket.destroy(); return; }
          res.writeHead(answer.statusCode, answer.headers);
          res.end(Buffer.concat(parts));
        });
      });
      out.on('error', () => req.socket.destroy());
      out.end(Buffer.concat(chunks));
    });
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => {
    relay.url = `http://127.0.0.1:${server.address().port}`;
    relay.close = () => new Promise((r) => { server.closeAllConnections(); server.close(r); });
    resolve(relay);
  }));
}

const guestState = {
  version: 1, settings: { theme: 'dark' },
  records: { sum: { drafts: { c: '// 游客草稿\n' }, attempts: 2, best: 'accepted', passDates: ['2026-01-05'] } },
};

let service;
let relay;
let browser;
let judging = false;
const pcs = {};

async function startPc(name, { state } = {}) {
  const folder = pcs[name] ? pcs[name].folder : makeFolder({ bank: smallBank(), state });
  const env = { XDG_CONFIG_HOME: join(work, name + '-config') };
  const app = await startProgram(folder, { env });
  pcs[name] = { app, folder, env, config: env.XDG_CONFIG_HOME };
  return app;
}

// Ends the program but keeps its folder, for a restart in place.
async function stopPc(name) {
  const { app } = pcs[name];
  await fetch(`http://${app.host}/api/shutdown`, { method: 'POST', headers: { Authorization: `Bearer ${app.token}` } }).catch(() => {});
  await app.exited;
}

before(async () => {
  service = await startService();
  relay = await startRelay();
  relay.target = service.port;
  browser = await launchBrowser();
  await startPc('pc1', { state: guestState });
  await startPc('pc2');
  judging = await judgeReady(pcs.pc1.app);
});
after(async () => {
  await browser?.close();
  for (const { app } of Object.values(pcs)) await app.stop();
  await relay?.close();
  await service?.stop();
  rmSync(work, { recursive: true, force: true });
});

const profileOf = async (name) => (await pcs[name].app.api('/api/cloud/status')).data.profile;
function accountState(name, profile) {
  const file = join(pcs[name].folder, 'data', `state-${profile}.json`);
  return existsSync(file) ? JSON.parse(readFileSync(file, 'utf8')) : null;
}
const backups = (name) => readdirSync(join(pcs[name].folder, 'data')).filter((n) => n.startsWith('bk-')).sort();
const syncState = (page) => page.getAttribute('#cloud-account', 'data-sync');

async function openDialog(page) {
  if (!(await page.$('#cloud-dialog[open]'))) await page.click('#cloud-account');
  await page.waitForSelector('#cloud-dialog[open]');
}

// One sync started by the learner; resolves with how it ended.
async function syncNow(page) {
  await openDialog(page);
  await page.evaluate(() => { document.querySelector('#cloud-account').dataset.sync = 'waiting'; });
  await page.click('#cloud-sync-now');
  const end = await waitFor(async () => {
    const s = await syncState(page);
    return ['synced', 'offline', 'refused', 'distrust', 'error'].includes(s) ? s : null;
  }, 60000, 'the sync to end');
  await page.click('#cloud-close');
  return end;
}

async function signIn(page, how, { merge = true } = {}) {
  await openDialog(page);
  if (await page.$('#cloud-server')) {
    await page.fill('#cloud-server', relay.url);
    await page.click('#cloud-save-server');
  }
  await page.waitForSelector('#cloud-username');
  await page.click(`.cloud-tabs [data-mode="${how}"]`);
  await page.fill('#cloud-username', NAME);
  await page.fill('#cloud-password', PASSWORD);
  await page.click('#cloud-submit');
  await page.waitForSelector('#cloud-logout');
  if (merge !== null) {
    await page.waitForSelector('#dialog[open] .btn-primary', { timeout: 15000 });
    await page.click(merge ? '#dialog[open] .btn-primary' : '#dialog[open] .btn:not(.btn-primary)');
  }
  await waitFor(async () => ['synced', 'distrust', 'offline'].includes(await syncState(page)), 60000, 'the first sync')
    .catch(async (e) => { throw new Error(`${e.message}: ${await syncState(page)}, ${await page.textContent('#cloud-account')}, ${await page.getAttribute('#cloud-account', 'title')}`); });
  if (await page.$('#cloud-dialog[open]')) await page.click('#cloud-close');
}

async function submit(page, id, code) {
  await page.click(`.exercise-item[data-id="${id}"]`);
  await setCode(page, code);
  await page.evaluate(() => { const r = document.querySelector('#result'); if (r) r.replaceChildren(); });
  await page.click('#submit');
  await page.waitForSelector('#result .verdict-head, #result .verdict-error', { timeout: 90000 });
}

let one;
let two;
let profile;

test('an older, empty or unreadable answer changes nothing here, says so, and the learner can repair the account', async () => {
  if (!existsSync(CLOUD)) assert.fail(`the account service is not built: ${CLOUD}`);
  one = await openPage(browser, pcs.pc1.app.url);
  await signIn(one.page, 'register');
  two = await openPage(browser, pcs.pc2.app.url);
  await signIn(two.page, 'login', { merge: null });
  profile = await profileOf('pc1');
  assert.equal(await profileOf('pc2'), profile);

  // The second computer writes twice; the service is copied away after the first.
  await two.page.click('.exercise-item[data-id="sum"]');
  await setCode(two.page, '// 第二台 v1\n');
  assert.equal(await syncNow(two.page), 'synced');
  await service.stop();
  const older = join(work, 'service-older');
  cpSync(serviceData, older, { recursive: true });
  service = await startService(service.port);
  await setCode(two.page, '// 第二台 v2\n');
  assert.equal(await syncNow(two.page), 'synced');
  const puts = relay.puts;

  const rows = [
    ['an empty object', '{}', MALFORMED],
    ['a state that is a string', '{"revision":3,"state":"x"}', MALFORMED],
    ['a records list and no revision', '{"records":[]}', MALFORMED],
    ['an account row missing: revision 0 and nothing', '{"revision":0,"state":{"records":{}}}', BACKWARDS],
  ];
  for (const [what, body, message] of rows) {
    relay.pull = body;
    assert.equal(await syncNow(two.page), 'distrust', what);
    await openDialog(two.page);
    assert.equal(await two.page.textContent('#cloud-sync-detail'), message, what);
    assert.ok(await two.page.$('#cloud-repair'), `${what}: the learner is offered the repair`);
    assert.doesNotMatch(await two.page.textContent('#cloud-dialog'), /HTTP|\b[45]\d\d\b/, what);
    await two.page.click('#cloud-close');
    assert.doesNotMatch(await two.page.textContent('#cloud-account'), /已同步|被其他设备更新/, what);
    assert.equal(accountState('pc2', profile).records.sum.drafts.c, '// 第二台 v2\n', what);
    assert.equal(accountState('pc2', profile).settings.theme, 'dark', `${what}: the setting stays`);
    assert.equal((await editorText(two.page)).trim(), '// 第二台 v2', what);
    assert.equal(relay.puts, puts, `${what}: nothing was pushed`);
  }
  relay.pull = null;

  // The real service put back to its older copy: the same refusal; then the learner repairs.
  await service.stop();
  rmSync(serviceData, { recursive: true, force: true });
  cpSync(older, serviceData, { recursive: true });
  service = await startService(service.port);
  assert.equal(await syncNow(two.page), 'distrust');
  await openDialog(two.page);
  assert.equal(await two.page.textContent('#cloud-sync-detail'), BACKWARDS);
  await two.page.click('#cloud-repair');
  await waitFor(async () => (await syncState(two.page)) === 'synced', 60000, 'the repair');
  await two.page.click('#cloud-close');
  // The first computer now gets the newest draft, not the older one.
  assert.equal(await syncNow(one.page), 'synced');
  assert.equal(accountState('pc1', profile).records.sum.drafts.c, '// 第二台 v2\n');
});

test('a computer whose clock is a day behind keeps its newer draft and its pass', async () => {
  assert.ok(one && two, 'the first row signed both computers in');
  await two.page.close();
  // The second computer's clock says yesterday.
  two = await openPage(browser, pcs.pc2.app.url, {
    initScript: () => { const real = Date.now; Date.now = () => real() - 24 * 3600 * 1000; },
  });
  await waitFor(async () => (await syncState(two.page)) === 'synced', 60000, 'the sync at start');
  await one.page.click('.exercise-item[data-id="max2"]');
  await setCode(one.page, '// 第一台先写\n');
  if (judging) await submit(one.page, 'greet', 'int main(void) { return 0; }\n');
  assert.equal(await syncNow(one.page), 'synced');
  assert.equal(await syncNow(two.page), 'synced');
  await two.page.click('.exercise-item[data-id="max2"]');
  await setCode(two.page, '// 第二台后写\n');
  if (judging) await submit(two.page, 'greet', '#include <stdio.h>\nint main(void) { printf("Yes\\nDone\\n"); return 0; }\n');
  assert.equal(await syncNow(two.page), 'synced');
  assert.equal(await syncNow(one.page), 'synced');
  for (const name of ['pc1', 'pc2']) {
    const r = accountState(name, profile).records;
    const lang = Object.keys(r.max2.drafts).find((l) => r.max2.drafts[l] === '// 第二台后写\n');
    assert.ok(lang, `${name}: the later draft is current`);
    if (judging) {
      assert.equal(r.greet.lastStatus, 'accepted', `${name}: the latest result is the later pass`);
      assert.equal(r.greet.best, 'accepted');
      assert.ok(r.greet.history.some((e) => e.status === 'accepted'), `${name}: the pass stays in the history`);
      assert.equal(r.greet.attempts, 2);
    }
  }
});

test('a submission whose upload answer is lost is counted once', async (t) => {
  if (!judging) { t.skip('no compiler here'); return; }
  const attempts = () => accountState('pc1', profile).records.sum.attempts;
  assert.equal(await syncNow(one.page), 'synced');
  const before = attempts();
  relay.losePut = true;
  const puts = relay.puts;
  await submit(one.page, 'sum', SUM_REFERENCE);
  // The sync after the verdict (or one asked for) uploads, and its answer is lost.
  if (relay.puts === puts) await syncNow(one.page);
  await waitFor(() => relay.puts > puts, 30000, 'the upload to reach the service');
  relay.losePut = false;
  for (let k = 0; k < 2; k++) assert.equal(await syncNow(one.page), 'synced');
  assert.equal(await syncNow(two.page), 'synced');
  assert.equal(attempts(), before + 1);
  assert.equal(accountState('pc2', profile).records.sum.attempts, before + 1);
});

test('a pass cleared by a bank change stays cleared through syncs and restarts', async () => {
  // The guest's pass of "sum" came into the account at sign-in.
  const passed = async (page) => /state-passed/.test(await page.getAttribute('.exercise-item[data-id="sum"]', 'class'));
  assert.equal(await passed(one.page), true);
  const bank = smallBank();
  bank.questions[0].tests.push({ input: '7 8\n', output: '15\n' }); // judged on other tests now
  bank.revision = 'e2e-2';
  writeFileSync(join(pcs.pc1.folder, 'data', 'bank.json'), JSON.stringify(bank));
  await one.page.reload();
  await one.page.waitForSelector('body.ready');
  await waitFor(async () => !(await passed(one.page)), 15000, 'the pass to be cleared');
  for (let k = 0; k < 2; k++) {
    assert.equal(await syncNow(one.page), 'synced');
    assert.equal(await syncNow(two.page), 'synced');
  }
  await one.page.reload();
  await one.page.waitForSelector('body.ready');
  assert.equal(await syncNow(one.page), 'synced');
  assert.equal(await passed(one.page), false, 'not back after syncing and starting again');
  assert.notEqual(accountState('pc1', profile).records.sum.best, 'accepted');
});

test('history over the budget makes no new backups and is the same on both computers', async () => {
  const big = (k, who) => `// ${who} ${k}\n` + 'x'.repeat(60 * 1024);
  // Both computers submit a lot of long code (written into their progress as the page would).
  for (const [name, page] of [['pc1', one.page], ['pc2', two.page]]) {
    await page.evaluate(async ([who, code, prof]) => {
      const token = sessionStorage.getItem('tavrin-token');
      const headers = { Authorization: 'Bearer ' + token, 'X-Mesk-Profile': prof };
      const state = await (await fetch('/api/state', { headers })).json();
      for (const id of ['sum', 'greet', 'max2']) {
        const r = state.records[id] || (state.records[id] = { drafts: {}, attempts: 0, best: '', passDates: [] });
        r.history = r.history || [];
        for (let k = 0; k < 8; k++) r.history.push({ at: Date.now() + k, lang: 'c', status: 'failed', passed: 0, total: 1, code: `${code}${id}${k}` });
        r.attempts += 8;
      }
      await fetch('/api/state', { method: 'POST', headers, body: JSON.stringify(state) });
    }, [name, big(0, name), profile]);
    await page.reload();
    await page.waitForSelector('body.ready');
  }
  for (const page of [one.page, two.page, one.page, two.page]) {
    const end = await syncNow(page);
    if (end !== 'synced') {
      await openDialog(page);
      assert.fail(`${end}: ${await page.textContent('#cloud-dialog')}`);
    }
  }
  const before = [backups('pc1'), backups('pc2')];
  for (const page of [one.page, two.page, one.page]) assert.equal(await syncNow(page), 'synced');
  assert.deepEqual([backups('pc1'), backups('pc2')], before, 'no new backups');
  const history = (name) => JSON.stringify(Object.values(accountState(name, profile).records).map((r) => r.history || []));
  assert.equal(history('pc1'), history('pc2'));
  assert.ok(statSync(join(pcs.pc1.folder, 'data', `state-${profile}.json`)).size < 2 * 1024 * 1024);
});

test('a sign-in that could not be restored is said, and the guest work of meanwhile is offered', async () => {
  await two.page.close();
  await stopPc('pc2');
  // The sealing key is gone (a new user profile, a cleaned config folder).
  const keys = readdirSync(pcs.pc2.config, { recursive: true }).filter((p) => String(p).endsWith('cloud.key'));
  assert.equal(keys.length, 1);
  rmSync(join(pcs.pc2.config, keys[0]));
  await startPc('pc2');
  two = await openPage(browser, pcs.pc2.app.url);
  await two.page.waitForSelector('#cloud-restore-banner');
  assert.match(await two.page.textContent('#cloud-restore-banner'), new RegExp(`账号「${NAME}」没能自动登录`));
  // Work as a guest meanwhile.
  await two.page.click('.exercise-item[data-id="greet"]');
  await setCode(two.page, '// 游客时写的\n');
  await waitFor(() => JSON.parse(readFileSync(join(pcs.pc2.folder, 'data', 'state.json'), 'utf8')).records?.greet?.drafts?.c === '// 游客时写的\n',
    10000, 'the guest save');
  await two.page.click('#cloud-restore-banner .btn-primary');
  // This account was synced here before: the guest work is offered all the same.
  await signIn(two.page, 'login', { merge: true });
  assert.equal(await two.page.$('#cloud-restore-banner'), null);
  assert.equal(await syncNow(two.page), 'synced');
  assert.equal(await syncNow(one.page), 'synced');
  assert.equal(accountState('pc1', profile).records.greet.drafts.c, '// 游客时写的\n');
});

test('a sign-in that cannot be stored is said at once', async () => {
  await two.page.close();
  await stopPc('pc2');
  const keys = readdirSync(pcs.pc2.config, { recursive: true }).filter((p) => String(p).endsWith('cloud.key'));
  assert.equal(keys.length, 1);
  writeFileSync(join(pcs.pc2.config, keys[0]), Buffer.alloc(16)); // truncated
  await startPc('pc2');
  two = await openPage(browser, pcs.pc2.app.url);
  await two.page.waitForSelector('#cloud-restore-banner');
  await two.page.click('#cloud-restore-banner .btn-primary');
  await signIn(two.page, 'login', { merge: null });
  await openDialog(two.page);
  await two.page.waitForSelector('#cloud-not-remembered');
  await two.page.click('#cloud-close');
});

// Known open: after signing out a result head is still found in the pane (the page's "last
// submission" view may be redrawing one; not yet told apart from the account's own result).
test('signing out or switching clears the previous account\'s result from the screen', { todo: 'a result head is still shown after signing out' }, async (t) => {
  if (!judging) { t.skip('no compiler here'); return; }
  await submit(one.page, 'sum', SUM_REFERENCE);
  assert.ok(await one.page.$('#result .verdict-head'));
  await openDialog(one.page);
  await one.page.click('#cloud-logout');
  await waitFor(async () => /游客/.test(await one.page.textContent('#cloud-account')), 15000, 'the guest again');
  assert.equal(await one.page.$('#result .verdict-head, #result .verdict-error'), null);
  assert.equal(await one.page.isVisible('#result-badge'), false);
  await one.page.click('#cloud-close');
  // Another window signs in while this page is in the back: the guest's result goes as well.
  await submit(one.page, 'sum', SUM_REFERENCE);
  const answer = await pcs.pc1.app.api('/api/cloud/login', { method: 'POST', body: { username: NAME, password: PASSWORD } });
  assert.equal(answer.data.ok, true);
  await one.page.evaluate(() => window.dispatchEvent(new Event('focus')));
  await waitFor(async () => new RegExp(NAME).test(await one.page.textContent('#cloud-account')), 15000, 'the account in the page');
  assert.equal(await one.page.$('#result .verdict-head, #result .verdict-error'), null);
  for (const p of [one]) assert.deepEqual(p.problems.filter((x) => !/ERR_CONNECTION|Failed to load resource|ERR_EMPTY_RESPONSE/.test(x)), []);
});
