// Arbitrary bytes into the parameter-file reader. Every input must end in a status (no crash, no
// exception, bounded memory); an accepted file must write back to text that loads to the same
// configuration and writes to the same bytes again.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/parameter_file.h"

namespace {

using namespace varnex2::config;

constexpr ProgramVersion kProgram{1, 3, 0, 26};
constexpr ControllerFacts kController{32, 52, 0x20};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const PanelConfig current;
  PanelConfig out;
  std::string message;
  const ParameterFileStatus status = LoadParameterText(text, current, kController, kProgram, out, message);
  if (message.empty()) std::abort();
  if (status != ParameterFileStatus::kOk) {
    if (!(out == PanelConfig{})) std::abort();  // a refused file leaves nothing behind
    return 0;
  }

  const std::string written = WriteParameterFile(out, kProgram);
  PanelConfig again;
  if (LoadParameterText(written, current, kController, kProgram, again, message) != ParameterFileStatus::kOk) {
    std::abort();
  }
  if (!(again == out) || WriteParameterFile(again, kProgram) != written) std::abort();
  return 0;
}
