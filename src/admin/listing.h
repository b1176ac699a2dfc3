// The printed listing of the settings and the printer entry table.
#pragma once

#include <cstdio>

#include "config/config_pass.h"

namespace zorv {

void printListing(const ConfigContent& content, std::FILE* out = stdout);

}  // namespace zorv
