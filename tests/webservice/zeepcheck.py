"""What the zeep scripts of the web service's tests share: a list of failed checks and a fault's parts."""
failures = []


def check(name, got, want):
    if got != want:
        failures.append(f"{name}: got {got!r}, want {want!r}")


def local(utc_text):
    """A UTC time text as the local-time operations give it: moved by the present offset from UTC
    and carrying it."""
    import datetime
    import time
    offset = time.localtime().tm_gmtoff
    t = datetime.datetime.strptime(utc_text, '%Y-%m-%dT%H:%M:%SZ') + datetime.timedelta(seconds=offset)
    sign = '-' if offset < 0 else '+'
    minutes = abs(offset) // 60
    return t.strftime('%Y-%m-%dT%H:%M:%S') + f'{sign}{minutes // 60:02d}:{minutes % 60:02d}'


def fault_of(call):
    """The fault a call ends in: (code, message, detail elements by name), or None."""
    from zeep.exceptions import Fault
    try:
        call()
    except Fault as f:
        detail = {}
        if f.detail is not None:
            for el in f.detail.iter():
                detail[el.tag.split('}')[-1]] = (el.text or '')
        return (f.code, f.message, detail)
    return None


def report():
    """Prints the failures; the exit status."""
    if failures:
        print('\n'.join(failures))
        return 1
    return 0
