#!/usr/bin/env python3
"""The monitor's page in headless Chromium: `quillbox monitor` gets trace viewer commands (markup
among them), `quillbox demo --monitor` polls the simulator through the library with
QUILLBOX_MONITOR set, and the page's DOM, after the updates have arrived, must hold the commands'
texts, the library's Log window and trace lines, markup as plain text, and an update sent after
the page opened. Usage: monitor_page_test.py QUILLBOX VERSION_NUMBER [SCREENSHOT.png]"""
import base64, fcntl, json, os, shutil, socket, subprocess, sys, tempfile, time


class Browser:
    """Chromium driven over its DevTools pipe (fds 3 and 4), with the standard library only."""

    def __init__(self, path, profile):
        to_browser, self.commands = os.pipe()
        self.replies, from_browser = os.pipe()

        def pipes_at_3_and_4():
            r, w = (fcntl.fcntl(fd, fcntl.F_DUPFD, 10) for fd in (to_browser, from_browser))
            os.dup2(r, 3)
            os.dup2(w, 4)

        self.process = subprocess.Popen(
            [path, '--headless', '--no-sandbox', '--disable-gpu', '--no-proxy-server',
             '--disable-dev-shm-usage', '--remote-debugging-pipe', '--window-size=1200,860',
             '--user-data-dir=' + profile],
            preexec_fn=pipes_at_3_and_4, close_fds=False, stderr=subprocess.DEVNULL)
        os.close(to_browser)
        os.close(from_browser)
        self.next_id, self.buffer, self.session = 0, b'', None
        target = self.call('Target.createTarget', url='about:blank')['targetId']
        self.session = self.call('Target.attachToTarget', targetId=target, flatten=True)['sessionId']

    def call(self, method, **params):
        self.next_id += 1
        message = {'id': self.next_id, 'method': method, 'params': params}
        if self.session:
            message['sessionId'] = self.session
        os.write(self.commands, json.dumps(message).encode() + b'\0')
        while True:
            while b'\0' not in self.buffer:
                chunk = os.read(self.replies, 1 << 16)
                if not chunk:
                    raise RuntimeError('chromium went away')
                self.buffer += chunk
            text, self.buffer = self.buffer.split(b'\0', 1)
            reply = json.loads(text)
            if reply.get('id') == self.next_id:
                if 'error' in reply:
                    raise RuntimeError(f'{method}: {reply["error"]}')
                return reply['result']

    def eval(self, expression):
        return self.call('Runtime.evaluate', expression=expression, returnByValue=True)['result'].get('value')

    def wait(self, expression, seconds=30):
        deadline = time.time() + seconds
        while not self.eval(expression):
            if time.time() > deadline:
                raise AssertionError('page never showed: ' + expression)
            time.sleep(0.1)

    def close(self):
        self.process.kill()
        self.process.wait()


def main():
    quillbox, version_number = sys.argv[1], sys.argv[2]
    chromium = shutil.which('chromium')
    if not chromium:
        print('SKIP: chromium is not installed (scripts/install-deps.sh installs it)')
        return 77
    work = tempfile.mkdtemp(prefix='quillbox-monitor-')
    path = os.path.join(work, 'monitor.sock')
    monitor = subprocess.Popen([quillbox, 'monitor', '--socket', path, '--http', '127.0.0.1:0'],
                               stdout=subprocess.PIPE, text=True)
    browser = None
    try:
        url = next(line.split()[-1] for line in monitor.stdout if line.startswith('Monitor page:'))
        assert oct(os.stat(path).st_mode & 0o777) == '0o600', oct(os.stat(path).st_mode)
        sender = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        for command in ['xts:Line=COM1', 'xta1:a <script>document.title="owned"</script> line',
                        'xta2t:<img src=x onerror="document.title=1">', 'xtrect:0,0,640,480',
                        'xtq:unknown']:
            sender.sendto(command.encode(), path)
        sender.sendto(b'x' * 70000, path)
        demo = subprocess.run([quillbox, 'demo', '--duration', '1.5', '--monitor'],
                              env=dict(os.environ, QUILLBOX_MONITOR=path), capture_output=True,
                              text=True, timeout=120)
        assert demo.returncode == 0, demo.stdout + demo.stderr

        browser = Browser(chromium, os.path.join(work, 'profile'))
        browser.call('Page.navigate', url=url)
        browser.wait('document.body && document.body.dataset.updates >= 1')
        sender.sendto('xta1:sent after the page opened'.encode(), path)
        browser.wait("byId('log0').textContent.includes('sent after the page opened')")
        text = browser.eval('''JSON.stringify(Object.fromEntries(
            [...document.querySelectorAll('[id]')].map((e) => [e.id, e.textContent])))''')
        page = json.loads(text)
        html = browser.eval('document.documentElement.outerHTML')
        expected = {
            'log0': ['a <script>document.title="owned"</script> line',
                     'item 1 reply [100 111 122'],
            'log1': ['<img src=x onerror="document.title=1">'],
            'status2': ['Line=COM1'], 'rect': ['window at 0,0,640,480'],
            'logcaption': ['Log - DLL Version ' + version_number],
            'logstatus': ['Port=COM1', 'Protocol=MODBUS RTU', 'Replies='],
            'logpane0': [']SerialAccept : 01'],
            'logpane1': ['sent item 1: 01 03 00 00 00 0A', 'event 2 item 1: 01 03 14 00 64'],
            'display': ['quillbox is polling /dev/pts/'],
            'oversized': ['1'], 'malformed': ['1'],
        }
        for element, parts in expected.items():
            for part in parts:
                assert part in page.get(element, ''), f'#{element} lacks {part!r}: {page.get(element)!r}'
        assert 'Replies=' in page['status0'] + page['status1'] + page['status2'], page
        assert '&lt;script&gt;document.title' in html and '&lt;img src=x' in html, html
        state = browser.eval('[document.title, document.images.length, document.scripts.length, '
                             "byId('logview').hidden]")
        assert state == ['Quillbox monitor', 0, 1, False], state
        if len(sys.argv) > 3:
            shot = browser.call('Page.captureScreenshot', format='png')['data']
            with open(sys.argv[3], 'wb') as out:
                out.write(base64.b64decode(shot))
        print('1 passed, 0 failed')
        return 0
    finally:
        if browser:
            browser.close()
        monitor.terminate()
        monitor.wait(timeout=10)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
