// Calls vtxwebservice through its WSDL with npm's soap package. usage: node client.js <wsdl> <phase>
// phase "read": the information operations; phase "admin": an operation that answers nothing.
// Exits 1 and names every check that failed.
'use strict';
const soap = require('soap');

const failures = [];
function check(name, got, want) {
  if (JSON.stringify(got) !== JSON.stringify(want)) failures.push(`${name}: got ${JSON.stringify(got)}, want ${JSON.stringify(want)}`);
}

async function fault(call) {
  try {
    await call();
  } catch (e) {
    const f = e.root && e.root.Envelope && e.root.Envelope.Body && e.root.Envelope.Body.Fault;
    return f ? `${f.faultcode}|${f.faultstring}` : String(e);
  }
  return 'no fault';
}

async function main() {
  const [wsdl, phase] = process.argv.slice(2);
  const client = await soap.createClientAsync(wsdl);
  const k = { clientKey: 'node' };
  if (phase === 'read') {
    check('Currencies', (await client.CurrenciesAsync(k))[0].CurrenciesResult, 'EUR;USD;GBP;JPY;CHF;DEM;XPF');
    check('CountryToCurrency', (await client.CountryToCurrencyAsync({ ...k, country: 'DEU', activeOnly: false }))[0]
      .CountryToCurrencyResult, 'EUR');
    check('DomainToCurrency', (await client.DomainToCurrencyAsync({ ...k, domain: 'https://www.bank.co.uk/', activeOnly: true }))[0]
      .DomainToCurrencyResult, 'GBP');
    check('CurrencyHits', (await client.CurrencyHitsAsync({ ...k, currency: 'XYZ' }))[0].CurrencyHitsResult, 0);
    check('CurrencyLegalTender', (await client.CurrencyLegalTenderAsync({ ...k, currency: 'DEM' }))[0]
      .CurrencyLegalTenderResult, false);
    check('InformationMessage', (await client.InformationMessageAsync(k))[0].InformationMessageResult,
      'Rates & more <b>\r\nsecond line\ufffd');
    check('Version', (await client.VersionAsync(k))[0].VersionResult, '4.0');
    check('unknown currency', await fault(() => client.CurrencyRegimeAsync({ ...k, currency: 'QQQ' })),
      'soap:Client|Currency not found.');
  } else {
    const [result] = await client.AdminMessageAsync({ ...k, text: 'Hello from node & co', type: 1 });
    check('AdminMessage answers nothing', result, null);
    check('AdminLoad outside', await fault(() => client.AdminLoadAsync({ ...k, file: '/etc/passwd' })),
      'soap:Client|Configuration files are read and written only in the "Configurations" folder.');
  }
  if (failures.length) {
    console.log(failures.join('\n'));
    process.exit(1);
  }
}

main().catch((e) => {
  console.log(`client failed: ${e.stack || e}`);
  process.exit(1);
});
