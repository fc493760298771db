// The read commands through the station service (Service.h): each asks its
// route, checks the document's shape and prints it with the printer the
// command uses on its own line. A document of another shape is an error
// (exit 1); so is a pump the service cannot poll now (its fault cause).
#pragma once

#include "Registry.h"
#include "serviceclient/ServiceClient.h"

namespace zarvik::host {

using serviceclient::ServiceClient;

int StatusThroughService(const Invocation& in, const ServiceClient& service);
int TotalsThroughService(const Invocation& in, const ServiceClient& service);
int StatsThroughService(const Invocation& in, const ServiceClient& service);
int TablesThroughService(const Invocation& in, const ServiceClient& service);

}  // namespace zarvik::host
