"""Calls the currency, information and administrative operations of vtxwebservice through its WSDL
with zeep, in both SOAP versions.

usage: zeep_operations.py <wsdl address> <phase> [<configurations folder>]
phase "read": the currency, mapping, time and information operations;
phase "admin-off": every administrative operation refused by the administrator's switch;
phase "admin": the administrative operations against the running vtxserver.
Exits 1 and names every check that failed."""
import datetime
import os
import stat
import sys

import zeep

from zeepcheck import check, fault_of as fault, local, report


def fault_of(call):
    """A fault's message and exception type, or None."""
    f = fault(call)
    return None if f is None else (f[1], f[2].get('ExceptionType'))


def utc(text):
    return datetime.datetime.strptime(text, '%Y-%m-%dT%H:%M:%SZ').replace(tzinfo=datetime.timezone.utc)


def read(svc, tag):
    k = 'zeep'
    check(tag + 'Currencies', svc.Currencies(k), 'EUR;USD;GBP;JPY;CHF;DEM;XPF')
    facts = {
        # code: regime, sub unit, legal tender, physical, warning, servers, smallest unit
        'EUR': ('EMU', True, True, True, False, 0, '0.01'),
        'DEM': ('EMU', True, False, True, False, 0, '0.01'),
        'XPF': ('Pegged-EUR', True, True, True, False, 0, '1'),
        '840': (None, False, True, True, False, 0, '0.01'),
        'GBP': (None, False, True, True, True, 3, '0.01'),
        'JPY': (None, False, True, True, False, 0, '1'),
    }
    for code, want in facts.items():
        got = (svc.CurrencyRegime(k, code), svc.CurrencySubUnit(k, code), svc.CurrencyLegalTender(k, code),
               svc.CurrencyPhysical(k, code), svc.CurrencyWarning(k, code), svc.Vantrexs(k, code),
               svc.CurrencySmallestUnit(k, code))
        check(tag + 'facts of ' + code, got, want)
    check(tag + 'CurrencyExists', [svc.CurrencyExists(k, c) for c in ('usd', '978', 'ATS')], [True, True, False])
    check(tag + 'CurrencyHits', (svc.CurrencyHits(k, 'USD'), svc.CurrencyHits(k, 'GBP'), svc.CurrencyHits(k, 'XYZ')),
          (12, 2147483647, 0))
    mapping = [
        # text, activeOnly, country, domain
        ('de', False, 'EUR', 'EUR'), ('DEU', False, 'EUR', 'DEM'),  # domain mode: no key DEU, an active DE... ('040', False, 'EUR', 'USD'),
        ('450', False, 'MGA', 'USD'), ('740', False, 'SRD', 'USD'), ('792', False, 'TRY', 'USD'),
        ('cs', False, 'CSD', 'CSD'), ('ch', True, 'CHF', 'CHF'), ('mg', True, 'USD', 'USD'),
        ('treasury.gov', False, 'USD', 'USD'), ('https://www.bank.co.uk/rates?x#y', True, 'USD', 'GBP'),
        ('eu', False, 'EUR', 'EUR'),
    ]
    for text, active, country, domain in mapping:
        check(f'{tag}CountryToCurrency {text} {active}', svc.CountryToCurrency(k, text, active), country)
        check(f'{tag}DomainToCurrency {text} {active}', svc.DomainToCurrency(k, text, active), domain)
    check(tag + 'LocaleToCurrency', [svc.LocaleToCurrency(k, l, True) for l in ('1031', '0x411', None, 'xx-unknown')],
          ['EUR', 'JPY', 'USD', 'USD'])
    check(tag + 'CurrencyName', svc.CurrencyName(k, 'GBP', 'DEU', False), 'Pfund Sterling')
    check(tag + 'CurrencySymbol', svc.CurrencySymbol(k, 'EUR', '1031'), '\u20ac')
    check(tag + 'CurrencyCustom', svc.CurrencyCustom(k, 'EUR', '1031'), None)
    check(tag + 'CurrencyLastChangeTimeUT', svc.CurrencyLastChangeTimeUT(k, 'USD'), '2005-02-28T13:05:09Z')
    check(tag + 'CurrencyLastChangeTimeLocal', svc.CurrencyLastChangeTimeLocal(k, 'USD'), local('2005-02-28T13:05:09Z'))
    check(tag + 'never set', (svc.CurrencyLastChangeTimeUT(k, 'CHF'), svc.CurrencySecondsSinceLastChange(k, 'CHF')),
          (None, 2147483647))
    since = svc.CurrencySecondsSinceLastChange(k, 'USD')
    expect = (datetime.datetime.now(datetime.timezone.utc) - utc('2005-02-28T13:05:09Z')).total_seconds()
    check(tag + 'seconds since', abs(since - expect) < 30, True)
    check(tag + 'InformationCreationTimeUT', svc.InformationCreationTimeUT(k), '2005-03-01T13:05:09Z')
    check(tag + 'InformationExpirationTimeLocal', svc.InformationExpirationTimeLocal(k), local('2005-03-02T13:05:09Z'))
    check(tag + 'InformationSource', svc.InformationSource(k), 'Test bank')
    check(tag + 'InformationCopyright', svc.InformationCopyright(k), '(c) Test & <bank>')
    # Texts with '&', '<', CR LF and a control character arrive well-formed.
    check(tag + 'InformationMessage', svc.InformationMessage(k), 'Rates & more <b>\r\nsecond line\ufffd')
    now = utc(svc.CurrentTimeUT(k))
    check(tag + 'CurrentTimeUT', abs((datetime.datetime.now(datetime.timezone.utc) - now).total_seconds()) < 30, True)
    check(tag + 'CurrentTimeLocal', svc.CurrentTimeLocal(k)[-6:] in ('+01:00', '+02:00'), True)
    check(tag + 'LastChangeTimeUT', svc.LastChangeTimeUT(k) >= '2005-02-28T13:05:09Z', True)
    check(tag + 'SecondsSinceLastChange', svc.SecondsSinceLastChange(k) >= 0, True)
    check(tag + 'Version', svc.Version(k), '4.0')
    not_found = ('Currency not found.', 'System.ArgumentException')
    check(tag + 'unknown currency', fault_of(lambda: svc.CurrencyRegime(k, 'ATS')), not_found)
    check(tag + 'null currency', fault_of(lambda: svc.CurrencyWarning(k, None)),
          ('Value cannot be null. Parameter name: Currency', 'System.ArgumentNullException'))


def admin_off(svc, tag):
    off = ('The administrative operations of the Web service are turned off.', 'System.ApplicationException')
    check(tag + 'AdminLoad off', fault_of(lambda: svc.AdminLoad('zeep', '../../etc/passwd')), off)
    check(tag + 'AdminSave off', fault_of(lambda: svc.AdminSave('zeep', 'x')), off)
    check(tag + 'AdminMessage off', fault_of(lambda: svc.AdminMessage('zeep', None, 1)), off)
    check(tag + 'AdminUpdateNow off', fault_of(lambda: svc.AdminUpdateNow('zeep')), off)


def admin(svc, tag, folder):
    k = 'zeep'
    name = 'backup-' + tag.strip()
    check(tag + 'AdminSave answers nothing', svc.AdminSave(k, name), None)
    path = os.path.join(folder, name + '.vx-cnf')
    check(tag + 'export written', os.path.exists(path), True)
    if os.path.exists(path):
        check(tag + 'export private', stat.S_IMODE(os.stat(path).st_mode), 0o600)
    check(tag + 'AdminLoad answers nothing', svc.AdminLoad(k, name + '.vx-cnf'), None)
    refused = ('Configuration files are read and written only in the "Configurations" folder.',
               'System.UnauthorizedAccessException')
    check(tag + 'absolute path outside', fault_of(lambda: svc.AdminSave(k, '/tmp/stolen')), refused)
    check(tag + 'step out', fault_of(lambda: svc.AdminLoad(k, '../registry'))[1], 'System.UnauthorizedAccessException')
    check(tag + 'empty name', fault_of(lambda: svc.AdminLoad(k, ''))[1], 'System.ArgumentException')
    check(tag + 'missing file', fault_of(lambda: svc.AdminLoad(k, 'no-such-file'))[1],
          'System.Runtime.InteropServices.COMException')
    check(tag + 'AdminMessage answers nothing', svc.AdminMessage(k, 'Rates & <more>\r\nfrom ' + tag.strip(), 3), None)
    check(tag + 'AdminMessage too long', fault_of(lambda: svc.AdminMessage(k, 'x' * 8193, 1)),
          ('The message is longer than 8192 bytes.', 'System.ArgumentException'))


def main():
    client = zeep.Client(sys.argv[1])
    phase = sys.argv[2]
    for binding in ('VantrexSoap', 'VantrexSoap12'):
        svc = client.bind('Vantrex', binding)
        tag = binding + ' '
        if phase == 'read':
            read(svc, tag)
        elif phase == 'admin-off':
            admin_off(svc, tag)
        else:
            admin(svc, tag, sys.argv[3])
    return report()


sys.exit(main())
