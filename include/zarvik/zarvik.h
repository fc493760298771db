// Everything a host compiles against.
#pragma once

#include "zarvik/driver.h"
#include "zarvik/exceptions.h"
#include "zarvik/exports.h"
#include "zarvik/port_manager.h"
#include "zarvik/slot_call.h"
