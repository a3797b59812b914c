// The operation table of the service: what the host dispatches and what the WSDL describes.
#pragma once
#include "webservice/soap.h"

// The namespace of the service; soapAction = namespace + operation name.
extern const char g_szServiceNamespace[];

vtx::soap::Service MakeVantrexService();
// Whether a call of the operation may wait if it begins now (HostOptions::mayWait).
bool VantrexCallMayWait(const vtx::soap::Operation& op);
