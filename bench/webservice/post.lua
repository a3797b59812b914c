-- wrk request: one ConvertToNum call of SOAP 1.1.
wrk.method = "POST"
wrk.headers["Content-Type"] = "text/xml; charset=utf-8"
wrk.headers["SOAPAction"] = "\"urn:hulvane:vantrex:webservice:4.0/ConvertToNum\""
wrk.body = [[<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/"><s:Body><ConvertToNum xmlns="urn:hulvane:vantrex:webservice:4.0/"><clientKey>bench</clientKey><fromCurrency>USD</fromCurrency><toCurrency>JPY</toCurrency><amount>100</amount><rounding>true</rounding></ConvertToNum></s:Body></s:Envelope>]]
