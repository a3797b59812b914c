"""Calls vtxwebservice through its WSDL with zeep, a SOAP client nobody here wrote.

usage: zeep_client.py <wsdl address>; exits 1 and names every check that failed."""
import sys

import zeep

from zeepcheck import check, fault_of, local, report


def parts(call):
    f = fault_of(call)
    if f is None:
        return None
    code, message, detail = f
    return (code, message, detail.get('ExceptionType'), detail.get('ParameterName'), detail.get('HResult'))


def main():
    client = zeep.Client(sys.argv[1])
    for binding in ('VantrexSoap', 'VantrexSoap12'):
        svc = client.bind('Vantrex', binding)
        v12 = binding.endswith('12')
        client_code = 'soap:Sender' if v12 else 'soap:Client'
        server_code = 'soap:Receiver' if v12 else 'soap:Server'
        tag = binding + ' '
        check(tag + 'ConvertToNum', svc.ConvertToNum('k', 'EUR', 'USD', 10.0, False, None, None), 12.5)
        check(tag + 'ConvertToNum numeric code', svc.ConvertToNum('k', '978', 'USD', 0.1, False, '', ''), 0.125)
        check(tag + 'ConvertToNum rounded', svc.ConvertToNum('k', 'EUR', 'JPY', 1.2345, True, None, None), 198.0)
        check(tag + 'RateNum', svc.RateNum('k', 'GBP', 'USD', False, None, None), 1.5625)
        check(tag + 'ConvertToStr plain', svc.ConvertToStr('k', 'EUR', 'USD;GBP;JPY', 2.0, False, '+', None, None),
              '2.5;1.6;320')
        check(tag + 'ConvertToStr German', svc.ConvertToStr('k', 'USD', 'EUR', 1234.5 * 1.25, True, 'DEU>', None,
                                                             None), '1.234,50 \u20ac')
        check(tag + 'ConvertToStr ASCII', svc.ConvertToStr('k', 'USD', 'EUR', 1.25, True, 'DEU>&', None, None),
              '1,00 &#8364;')
        check(tag + 'RateStr', svc.RateStr('k', 'EUR', 'USD', True, '>', None, None), '$1.25')
        check(tag + 'RateTimeUT', svc.RateTimeUT('k', 'USD', 'GBP', None, None, None), '2005-02-28T13:05:09Z')
        check(tag + 'RateTimeLocal', svc.RateTimeLocal('k', 'USD', 'GBP', 'OLDEST', None, None),
              local('2005-02-28T13:05:09Z'))
        null_msg = 'Value cannot be null. Parameter name: '
        cases = [
            ('null fromCurrency', lambda: svc.ConvertToNum('k', None, 'USD', 1.0, False, None, None),
             (client_code, null_msg + 'FromCurrency', 'System.ArgumentNullException', 'FromCurrency', '0x80004003')),
            ('empty fromCurrency', lambda: svc.ConvertToNum('k', '', 'USD', 1.0, False, None, None),
             (client_code, 'Currency not found.', 'System.ArgumentException', None, '0x80070057')),
            ('null format', lambda: svc.ConvertToStr('k', 'EUR', 'USD', 1.0, False, None, None, None),
             (client_code, null_msg + 'Format', 'System.ArgumentNullException', 'Format', '0x80004003')),
            ('date given', lambda: svc.ConvertToNum('k', 'EUR', 'USD', 1.0, False, '2005-03-01', None),
             (client_code, 'Value does not fall within the expected range.', 'System.ArgumentException', 'date',
              '0x80070057')),
            ('rate not set', lambda: svc.RateNum('k', 'CHF', 'USD', False, None, None),
             (client_code, 'Currency rate not set.', 'System.ArgumentException', None, '0x80070057')),
            ('lists on both sides', lambda: svc.RateStr('k', 'USD;GBP', 'EUR;JPY', False, '+', None, None),
             (client_code, 'Only one side may hold a list of currencies.', 'System.ArgumentException', None,
              '0x80070057')),
            ('null time currency', lambda: svc.RateTimeUT('k', None, 'USD', None, None, None),
             (client_code, null_msg + 'Currency', 'System.ArgumentNullException', 'Currency', '0x80004003')),
            ('bad priority', lambda: svc.RateTimeUT('k', 'EUR', 'USD', 'latest', None, None),
             (client_code, 'Value does not fall within the expected range.', 'System.ArgumentException', 'priority',
              '0x80070057')),
            ('infinite amount', lambda: svc.ConvertToNum('k', 'EUR', 'USD', float('inf'), False, None, None),
             (client_code, 'The amount is not a finite number.', 'System.ArgumentException', 'amount', '0x80070057')),
        ]
        for name, call, want in cases:
            check(tag + name, parts(call), want)
        del server_code
    return report()


sys.exit(main())
