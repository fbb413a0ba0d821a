"""Every page people reach, in Russian and in English, board included,
checked by axe-core in headless Chromium: no violation of any impact."""
import os
import shutil
import sys
import tempfile
import threading

from conftest import BROWSER, PEOPLE, ROOT, chromium, page_app, read_csv
from stand_in_set import free_port

AXE = os.path.join(ROOT, 'build', 'setup', 'npm', 'node_modules', 'axe-core', 'axe.min.js')


def serve(out, language):
    """The page on loopback, in a thread; its address. Nobody enrols: the
    set needs no templates of programs, nor the compilers that make them."""
    from class_set import enrolment
    from class_set.web.serving import listen
    enrolment.load_templates = lambda *args: {}
    app = page_app({'OUT': out, 'LANGUAGE': language, 'PLACES': 3})
    port = free_port()
    server = listen(app, '127.0.0.1', port, {'connections': 50, 'deadline': 10, 'slow': 20, 'idle_timeout': 15})
    threading.Thread(target=server.run, daemon=True).start()
    return app, f'http://127.0.0.1:{port}'


def violations(browser, axe, url):
    browser.get(url)
    browser.execute_script(axe)
    found = browser.execute_async_script('const done = arguments[0]; axe.run().then(r => done(r.violations))')
    return [f"{v['id']} ({v['impact']}): {v['nodes'][0]['html'][:120]}" for v in found]


def main():
    if not all(os.access(path, os.X_OK) for path in BROWSER) or not os.path.exists(AXE):
        print(f'SKIPPED: no Chromium ({BROWSER[0]}) or no axe-core ({AXE}) here')
        return 77
    from stand_in_set import lay_out
    with open(AXE, encoding='utf-8') as f:
        axe = f.read()
    top = tempfile.mkdtemp(prefix='accessibility-', dir=os.path.join(ROOT, 'build'))
    browser = chromium(top)
    found = []
    try:
        for language in ('ru', 'en'):
            out = os.path.join(top, language)
            lay_out(out, PEOPLE, size=256)
            app, base = serve(out, language)
            browser.get(f'{base}/board?key={app.extensions["room"].store.key()}')
            link = read_csv(browser.execute_script(
                "return fetch('/board/links.csv').then(r => r.text())"))[0]['link'].split('/p/')[1]
            for page in ('/', f'/p/{link}', '/enrol', '/nothing', '/board', '/board/slips', '/board/wall'):
                found += [f'{language} {page}: {v}' for v in violations(browser, axe, base + page)]
    finally:
        browser.quit()
        shutil.rmtree(top, ignore_errors=True)
    print('\n'.join(found) or 'no violations')
    print(f'{14 - len({f.split(":")[0] for f in found})} passed, {len({f.split(":")[0] for f in found})} failed')
    return 1 if found else 0


if __name__ == '__main__':
    sys.exit(main())
