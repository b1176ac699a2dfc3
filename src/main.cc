#include "admin/run.h"

int main(int argc, char** argv) { return zorv::runAdmin(argc, argv); }
