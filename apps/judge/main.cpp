// varnex2-judge: re-judges captured frames against a parameter file, the way one
// test cycle judges a frame, and prints one JSON line per frame.

#include <QApplication>
#include <QImage>

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "config/legacy_import.h"
#include "config/parameter_file.h"
#include "judging/widget/color_grid.h"
#include "judging/frame_capture.h"
#include "judging/legacy_limits.h"
#include "judging/node_map.h"
#include "judging/panel_layout.h"
#include "judging/offline_judge.h"
#include "judging/sample_limits.h"

namespace {

using namespace varnex2;

constexpr int kExitBadInput = 2;
constexpr int kExitInvalidConfig = 3;
constexpr int kPngWidth = 1600;
constexpr int kPngHeight = 1000;

const config::ProgramVersion kProgramVersion{VARNEX2_VERSION_MAJOR, VARNEX2_VERSION_MINOR, VARNEX2_VERSION_PATCH,
                                             VARNEX2_VERSION_TWEAK};

struct Options {
  std::string params;
  std::string frames;
  std::string png;
  std::string saveParams;
  std::string learn;
  std::string importLegacy;
  // Overrides of the file's sample-limit parameters for --learn.
  std::optional<std::int32_t> limitMode;
  std::optional<std::int32_t> percentX100;
  std::optional<std::int32_t> offsetLower;
  std::optional<std::int32_t> offsetUpper;
  std::int32_t trigger = 28000;
  std::int32_t stable = 3;
  std::uint8_t buzzer = 1;
  int connectType = 255;
};

void Usage(std::FILE* out) {
  std::fputs(
      "usage: varnex2-judge --params FILE.xml [--frames FILE.csv] [--trigger N] [--stable N]\n"
      "                     [--buzzer BITS] [--connect-type N] [--png FILE] [--save-params FILE]\n"
      "       varnex2-judge --params FILE.xml --learn SAMPLES.csv [--limit-mode percent|offset]\n"
      "                     [--percent P] [--offset-lower N] [--offset-upper N] --save-params OUT.xml\n"
      "  --learn takes every frame of SAMPLES.csv as a sample of a good panel, computes the\n"
      "  per-node sample limits from all of them and saves the configuration with them.\n"
      "       varnex2-judge --params BASE.xml --import-legacy OLD.ini --save-params NEW.xml\n"
      "  --import-legacy converts an old parameter set (OLD.ini and its folder OLD_ExternPara)\n"
      "  on top of BASE.xml as the station's import does, confirms the sample-limit editor and\n"
      "  saves the result. Exit 3 when the INI's areas are invalid (the companion data is still\n"
      "  taken and NEW.xml written), 2 when OLD.ini cannot be read.\n",
      out);
}

// Decimal, or hexadecimal with a 0x prefix; the whole text must be the number.
std::optional<long long> ParseInteger(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  long long value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

bool ParseOptions(int argc, char** argv, Options& o, std::string& error) {
  static constexpr std::string_view kOptions[] = {
      "--params",       "--frames", "--png",        "--save-params",  "--trigger",      "--stable", "--buzzer",
      "--connect-type", "--learn",  "--limit-mode", "--offset-lower", "--offset-upper", "--percent",
      "--import-legacy"};
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      std::exit(0);
    }
    // "--name value" or "--name=value".
    std::optional<std::string> inlineValue;
    if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      inlineValue = std::string(arg.substr(eq + 1));
      arg = arg.substr(0, eq);
    }
    if (std::find(std::begin(kOptions), std::end(kOptions), arg) == std::end(kOptions)) {
      error = arg.starts_with("-") ? "unknown option " + std::string(arg)
                                   : "unexpected argument \"" + std::string(arg) + "\" (options start with --)";
      return false;
    }
    if (!inlineValue && i + 1 >= argc) {
      error = "option " + std::string(arg) + " needs a value";
      return false;
    }
    const std::string value = inlineValue ? *inlineValue : argv[++i];
    auto integer = [&](long long lo, long long hi, auto& target) {
      const auto n = ParseInteger(value);
      if (!n || *n < lo || *n > hi) {
        error = "option " + std::string(arg) + ": \"" + value + "\" is not an integer in " + std::to_string(lo) + ".." +
                std::to_string(hi);
        return false;
      }
      target = static_cast<std::remove_reference_t<decltype(target)>>(*n);
      return true;
    };
    bool ok = true;
    if (arg == "--params")
      o.params = value;
    else if (arg == "--frames")
      o.frames = value;
    else if (arg == "--png")
      o.png = value;
    else if (arg == "--save-params")
      o.saveParams = value;
    else if (arg == "--trigger")
      ok = integer(INT32_MIN, INT32_MAX, o.trigger);
    else if (arg == "--stable")
      ok = integer(INT32_MIN, INT32_MAX, o.stable);
    else if (arg == "--buzzer")
      ok = integer(0, 255, o.buzzer);
    else if (arg == "--connect-type")
      ok = integer(0, 255, o.connectType);
    else if (arg == "--learn")
      o.learn = value;
    else if (arg == "--import-legacy")
      o.importLegacy = value;
    else if (arg == "--limit-mode") {
      if (value == "percent")
        o.limitMode = 0;
      else if (value == "offset")
        o.limitMode = 1;
      else {
        error = "option --limit-mode: unknown mode \"" + value + "\" (percent or offset)";
        return false;
      }
    } else if (arg == "--percent") {
      o.percentX100 = judging::StrictPercentTextToX100(value);
      if (!o.percentX100) {
        error = "option --percent: \"" + value + "\" is not a real number in -21474836.48..21474836.47";
        return false;
      }
    } else if (arg == "--offset-lower") {
      ok = integer(INT32_MIN, INT32_MAX, o.offsetLower.emplace());
    } else if (arg == "--offset-upper") {
      ok = integer(INT32_MIN, INT32_MAX, o.offsetUpper.emplace());
    }
    if (!ok) return false;
  }
  if (o.params.empty()) {
    error = "--params FILE is required";
    return false;
  }
  if (o.learn.empty() && (o.limitMode || o.percentX100 || o.offsetLower || o.offsetUpper)) {
    error = "--limit-mode, --percent, --offset-lower and --offset-upper go with --learn";
    return false;
  }
  if (!o.learn.empty() && o.saveParams.empty()) {
    error = "--learn needs --save-params FILE (where the learnt limits go)";
    return false;
  }
  if (!o.importLegacy.empty() && (o.saveParams.empty() || !o.learn.empty() || !o.frames.empty())) {
    error = "--import-legacy needs --save-params FILE and cannot be combined with --learn or --frames";
    return false;
  }
  if (!o.learn.empty() && !o.frames.empty()) {
    error = "--learn and --frames cannot be combined";
    return false;
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string& text, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot open the file";
    return false;
  }
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) {
    error = path + ": read error";
    return false;
  }
  text = std::move(buffer).str();
  return true;
}

int Fail(int code, const std::string& message) {
  std::fprintf(stderr, "varnex2-judge: %s\n", message.c_str());
  return code;
}

// Without XDG_RUNTIME_DIR Qt warns on stderr and falls back to a shared folder; the picture
// needs no runtime files, so a private folder (mode 0700) stands in while the program runs.
class PrivateRuntimeDir {
 public:
  PrivateRuntimeDir() {
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) return;
    std::error_code ec;
    std::string pattern = (std::filesystem::temp_directory_path(ec) / "varnex2-judge-XXXXXX").string();
    if (ec || ::mkdtemp(pattern.data()) == nullptr) return;
    dir_ = pattern;
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(dir_));
  }
  ~PrivateRuntimeDir() {
    if (dir_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  PrivateRuntimeDir(const PrivateRuntimeDir&) = delete;
  PrivateRuntimeDir& operator=(const PrivateRuntimeDir&) = delete;

 private:
  std::string dir_;
};

// The sample-limit editor run without its window: every frame judged as one test
// cycle judges it and taken as a sample ("采样"), every sample selected, the limits
// computed with the file's parameters or the options' ("设置上下限"), then confirmed
// as OK (the sample-limit mode set).
bool Learn(judging::NodeMap& map, const config::PanelConfig& panel, const judging::OfflineJudgeSettings& settings,
           const std::vector<judging::NodeFrame>& frames, const Options& o, config::PanelConfig& learnt,
           std::string& error) {
  judging::SampleLimitEditor editor(map, panel.sampleLimits);
  judging::OfflineJudge judge(map, panel, settings);
  for (const judging::NodeFrame& frame : frames) {
    judge.JudgeFrame(frame);
    editor.TakeSample();
  }
  for (int row = 1; row < editor.SampleTableRows(); ++row) editor.SetSelected(row, true);

  const config::SampleLimitSet& own = panel.sampleLimits;
  judging::LimitParameters p;
  p.nLimitMode = o.limitMode.value_or(own.nLimitMode);
  p.nPercentX100 = o.percentX100.value_or(own.nPercentX100);
  p.nOffsetLower = o.offsetLower.value_or(own.nOffsetLower);
  p.nOffsetUpper = o.offsetUpper.value_or(own.nOffsetUpper);
  if (editor.ComputeLimits(p) != judging::SampleLimitStatus::kOk) {
    error = "the samples do not give limits for the configuration's node extents";
    return false;
  }
  learnt.sampleLimits = editor.Data();
  learnt.nTestModeFlags = judging::TestModeAfterConfirm(learnt.nTestModeFlags);
  return true;
}

// The station's legacy import without the box: the INI part into the record (when its areas are
// valid), the node map laid out for it, the companion data into the sample-limit editor, which
// is then confirmed as OK. Returns the validation message of refused areas ("" when taken).
std::string ImportLegacy(judging::NodeMap& map, const config::LegacyIniFile& ini, const std::string& iniPath,
                         const config::ControllerFacts& controller, config::PanelConfig& panel) {
  const config::LegacyIniPart part =
      config::ReadLegacyIniPart(ini, panel, controller, config::TextLanguage::kEnglish);
  config::TakeLegacyIniPart(part, panel);
  judging::ApplyConfigToNodeMap(map, panel);

  const std::filesystem::path folder = config::LegacyCompanionFolder(iniPath);
  config::LegacyCompanion companion = config::ReadLegacyCompanion(folder, config::TextLanguage::kEnglish);
  judging::SampleLimitEditor editor(map, panel.sampleLimits);
  const config::LegacyLimitControls controls = part.Valid() ? part.controls : judging::LimitControlsOf(editor.Data());
  judging::ImportLegacyCompanion(map, editor, companion, controls, config::TextLanguage::kEnglish);
  const std::string problems = config::LegacyProblemsText(folder, companion.problems, config::TextLanguage::kEnglish);
  if (!problems.empty()) std::fprintf(stderr, "varnex2-judge: %s\n", problems.c_str());

  panel.sampleLimits = editor.Data();
  panel.nTestModeFlags = judging::TestModeAfterConfirm(panel.nTestModeFlags);
  return part.Valid() ? std::string() : part.validation.strMessage;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, options, error)) {
    Usage(stderr);
    return Fail(kExitBadInput, error);
  }

  // The configuration as the controller of the box would hold it: 32 X x 52 Y, firmware 0x20.
  const config::PanelConfig defaults;
  config::PanelConfig panel;
  const config::ControllerFacts controller{32, 52, 0x20};
  const auto status = config::LoadParameterFile(options.params, defaults, controller, kProgramVersion, panel, error,
                                                config::TextLanguage::kEnglish);
  if (status == config::ParameterFileStatus::kInvalidAreas)
    return Fail(kExitInvalidConfig, options.params + ": " + error);
  if (status != config::ParameterFileStatus::kOk) return Fail(kExitBadInput, options.params + ": " + error);

  // --frames judges the frames, --learn takes them as samples.
  const std::string& framesPath = options.learn.empty() ? options.frames : options.learn;
  std::vector<judging::NodeFrame> frames;
  if (!framesPath.empty()) {
    std::string text;
    if (!ReadWholeFile(framesPath, text, error)) return Fail(kExitBadInput, error);
    // Every frame has the configuration's extents, as the station's capture writes them:
    // one line per X line, one field per Y line.
    const config::NodeExtents extents = config::ComputeNodeExtents(panel.touchArea, panel.keyArea);
    if (!judging::ParseFrames(text, frames, error, judging::FrameShape{extents.nY, extents.nX}))
      return Fail(kExitBadInput, framesPath + ": " + error);
    if (!options.learn.empty() && frames.empty()) return Fail(kExitBadInput, framesPath + ": no frame in the file");
  }

  // The widget is only needed for the picture; without it a bare model does.
  std::optional<PrivateRuntimeDir> runtimeDir;
  std::unique_ptr<QApplication> app;
  judging::NodeMap map;
  std::unique_ptr<judging::CColorGrid> grid;
  if (!options.png.empty()) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    runtimeDir.emplace();
    static int qtArgc = 1;
    static char qtName[] = "varnex2-judge";
    static char* qtArgv[] = {qtName, nullptr};
    app = std::make_unique<QApplication>(qtArgc, qtArgv);
    grid = std::make_unique<judging::CColorGrid>(map);
  }
  judging::ApplyConfigToNodeMap(map, panel);
  std::string legacyRefusal;
  if (!options.importLegacy.empty()) {
    std::string iniError;
    const auto ini = config::LegacyIniFile::Load(options.importLegacy, iniError);
    if (!ini) return Fail(kExitBadInput, options.importLegacy + ": " + iniError);
    legacyRefusal = ImportLegacy(map, *ini, options.importLegacy, controller, panel);
  }
  const judging::OfflineJudgeSettings settings{options.trigger, options.stable, options.buzzer, options.connectType};

  // The configuration to save: the file's, or with the limits learnt from the samples.
  config::PanelConfig learnt = panel;
  if (!options.learn.empty()) {
    if (!Learn(map, panel, settings, frames, options, learnt, error))
      return Fail(kExitBadInput, framesPath + ": " + error);
    frames.clear();  // taken as samples, not judged again
  }

  if (!options.saveParams.empty()) {
    config::PanelConfig saved = learnt;
    saved.adjacentPercent = judging::ToArray2D(map.GetPercentArray());
    if (config::SaveParameterFile(options.saveParams, saved, kProgramVersion, error, config::TextLanguage::kEnglish) !=
        config::ParameterFileStatus::kOk)
      return Fail(kExitBadInput, options.saveParams + ": " + error);
  }

  judging::OfflineJudge judge(map, panel, settings);
  std::string line;
  line.reserve(64 * 1024);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    line.clear();
    judge.AppendJsonLine(static_cast<int>(i), judge.JudgeFrame(frames[i]), line);
    std::fwrite(line.data(), 1, line.size(), stdout);
  }
  if (std::fflush(stdout) != 0) return Fail(kExitBadInput, "cannot write the output");

  if (grid) {
    const QImage image = grid->RenderToImage(QSize(kPngWidth, kPngHeight));
    if (!image.save(QString::fromStdString(options.png), "PNG"))
      return Fail(kExitBadInput, options.png + ": cannot write the PNG file");
  }
  if (!legacyRefusal.empty()) return Fail(kExitInvalidConfig, options.importLegacy + ": " + legacyRefusal);
  return 0;
}
