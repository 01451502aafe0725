"""What every command-line test script shares: checks that gather their
failures, and the closing report (a FAIL line each, then the count; the
exit status 1 when any failed)."""

FAILURES = []


def check(what, ok, detail=''):
    if not ok:
        FAILURES.append('%s %s' % (what, detail))


def report():
    for f in FAILURES:
        print('FAIL ' + f)
    print('%d failure(s)' % len(FAILURES))
    return 1 if FAILURES else 0
