#include "admin/named_queues.h"

#include "config/config_format.h"
#include "io/file_descriptor.h"
#include "io/line_io.h"
#include "io/text_field.h"

namespace zorv {

std::vector<std::string> namedQueues(const std::string& path, std::size_t limit) {
  std::vector<std::string> names;
  FileDescriptor input = openForReading(path);
  if (!input.valid()) return names;
  readLines(input.get(), OnEagain::Fail, [&](const Line& line) {
    if (names.size() >= limit) return 1;
    if (!line.startsWith(tag::kPrinterOpen)) return 0;
    TextField name;  // as the pass keeps it
    copyText(name, printerTagName(line));
    names.emplace_back(name.view());
    return 0;
  });
  return names;
}

}  // namespace zorv
