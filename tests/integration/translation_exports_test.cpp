// A module's texts in the language of its own ".lng" file, seen through the
// exports: a copy of the framework library in a folder of its own, with or
// without a language file beside it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "integration_support.h"
#include "platform/scratch_folder.h"

using namespace corvane;
using namespace integration;

namespace {

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

// The framework library copied into a scratch folder, with the module's
// language file beside it when one is given.
class ModuleCopy {
 public:
  explicit ModuleCopy(const std::string& languageFile) {
    const std::string name = "corvane_framework_module";
    path_ = folder_ / (name + (windows() ? ".dll" : ".so"));
    // As the module names it: from its own file name, in the system's form.
    languageFile_ = std::filesystem::path(folder_ / (name + ".lng")).lexically_normal().make_preferred().string();
    std::filesystem::copy_file(frameworkLibraryPath(), path_);
    if (!languageFile.empty()) writeFile(languageFile_, languageFile);
    library_ = std::make_unique<host::LoadedPlugin>(path_);
  }
  ~ModuleCopy() { library_.reset(); }

  host::LoadedPlugin& Library() { return *library_; }
  const std::string& LanguageFile() const { return languageFile_; }

 private:
  platform::testing::ScratchFolder folder_;
  std::string path_;
  std::string languageFile_;
  std::unique_ptr<host::LoadedPlugin> library_;
};

// The host's "plugins.lng" beside the running program, for one test.
class HostLanguageFile {
 public:
  explicit HostLanguageFile(const std::string& content) : path_(platform::executableDirectory() + "plugins.lng") {
    writeFile(path_, content);
  }
  ~HostLanguageFile() { std::filesystem::remove(path_); }

 private:
  std::string path_;
};

// An export packet without data, which the framework answers with
// MsgNoData; then the log.
std::string noDataLog(Instance& instance) {
  HostList params(ListForm::Interface);
  TPluginCallRecord record = instance.Record();
  record.Params = params.Params();
  record.RoleFlags = 0x04;
  record.InputItem = {};
  EXPECT_EQ(instance.Plugin().ProcessData(&record), 0);
  return instance.DrainLog();
}

const std::string kGerman =
    "[Languages]\r\nDefault=DE\r\n$DE=Deutsch\r\n$FR=Francais\r\n\r\n"
    "EN:>No data for processing\r\nDE:>Keine Daten zur Verarbeitung\r\nFR:>Pas de donnees a traiter\r\n\r\n";

}  // namespace

TEST(TranslationThroughExports, ModuleBesideItsLanguageFileSpeaksItsDefault) {
  ModuleCopy module(kGerman);
  Instance instance(module.Library());
  EXPECT_EQ(noDataLog(instance), "\x02Keine Daten zur Verarbeitung\r\n");
}

TEST(TranslationThroughExports, AnotherHostLanguageTakesEffect) {
  ModuleCopy module(kGerman);
  Instance instance(module.Library());
  EXPECT_EQ(instance.Command("LOAD", {{"LANGUAGE", Text("FR")}}), 0);
  EXPECT_EQ(noDataLog(instance), "\x02Pas de donnees a traiter\r\n") << "from German, where the texts were";
  EXPECT_EQ(instance.Command("LOAD", {{"LANGUAGE", Text("FR")}}), 0);
  EXPECT_EQ(noDataLog(instance), "\x02Pas de donnees a traiter\r\n") << "the same language changes nothing";
  EXPECT_EQ(instance.Command("UNLOAD"), 0);
  EXPECT_EQ(instance.Command("UNLOAD"), 0);
}

TEST(TranslationThroughExports, WithoutTheModulesFileNothingChanges) {
  HostLanguageFile hostFile(kGerman);
  ModuleCopy module("");
  Instance instance(module.Library());
  EXPECT_EQ(noDataLog(instance), "\x02No data for processing\r\n");
  EXPECT_EQ(instance.Command("LOAD", {{"LANGUAGE", Text("DE")}}), 0);
  EXPECT_EQ(noDataLog(instance), "\x02No data for processing\r\n");
  EXPECT_EQ(instance.Command("UNLOAD"), 0);
}

TEST(TranslationThroughExports, BadLanguageFileLinesOnlyWarn) {
  ModuleCopy module("Charset=martian\r\n[Languages]\r\nDefault=DE\r\n$DE=Deutsch\r\n\r\n"
                    "EN:>No data for processing\r\nDE:>Keine Daten\r\n\r\n"
                    "EN;>broken\r\n:>no code\r\n\r\n");
  for (int i = 0; i < 2; ++i) {
    Instance instance(module.Library());
    const std::string log = noDataLog(instance);
    const std::string file = module.LanguageFile();
    EXPECT_NE(log.find("\x02Language file " + file + ", line 1: unknown Charset= value \"martian\"\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\x02Language file " + file + ", line 10: malformed entry line\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\x02Keine Daten\r\n"), std::string::npos) << "the module works in its language: " << log;
  }
}
