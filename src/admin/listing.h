// The printed listing of the settings and the printer entry table.
#pragma once

#include <cstdio>

#include "admin/context.h"

namespace zorv {

void printListing(const AdminContext* context, std::FILE* out = stdout);

}  // namespace zorv
