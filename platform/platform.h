// Every service of the seam to the operating system, for code that has not yet named the one
// it uses.
#pragma once

#include "platform/console.h"
#include "platform/directory.h"
#include "platform/file.h"
#include "platform/log_services.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/text.h"
