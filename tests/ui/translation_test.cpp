// The translator over component trees: blocks, keys, tags and names, and
// the language files' directives.
#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "platform/locale.h"
#include "platform/scratch_folder.h"
#include "translation_support.h"
#include "ui/custom_translators.h"
#include "ui/text_resources.h"

using namespace corvane;
using ui_test::TLabel;
using ui_test::Translator;

namespace {

const std::string kNoData = "No data for processing";

}  // namespace

TEST(Translation, TwoLineBlocksAndTheFilesEnd) {
  Translator t("EN:>No data for processing\nDE:>Keine Daten zur Verarbeitung\n\n"
               "EN:>Cancel\nDE:>Abbrechen");
  TComponent root;
  TLabel label(&root, "lblInfo", kNoData);
  TLabel cancel(&root, "lblCancel", "Cancel");
  EXPECT_TRUE(t.translator.Translate("DE", &root, "EN"));
  EXPECT_EQ(label.Caption, "Keine Daten zur Verarbeitung");
  EXPECT_EQ(cancel.Caption, "Cancel") << "a block the file's end cuts off is not loaded";
  EXPECT_EQ(t.translator.EntryCount(), 1);
  EXPECT_EQ(t.translator.Language(), "DE");

  // Another target language finds nothing in this file.
  TLabel fresh(&root, "lblFresh", kNoData);
  EXPECT_FALSE(t.translator.Translate("FR", &root, "EN"));
  EXPECT_EQ(fresh.Caption, kNoData);
  EXPECT_TRUE(t.warnings.empty());
}

TEST(Translation, KeysForAcceleratorsLineBreaksAndCase) {
  Translator t("EN:>Open\nDE:>Öffnen\n\n"
               "EN:>Save &as\nDE:>Speichern &unter\n\n"
               "EN:>First line%0D%0ASecond line\nDE:>Erste Zeile%0D%0AZweite Zeile\n\n"
               "EN:>Close\nDE:>Schl&ießen\n\n"
               "EN:>Fish && Chips\nDE:>Fisch && Pommes\n\n");
  std::string text = "x";
  t.translator.Translate("DE", text, "EN");  // loads the table
  EXPECT_EQ(t.translator.TranslateText("&Open"), "Öffnen") << "found through the key without the marker";
  EXPECT_EQ(t.translator.TranslateText("Save &as"), "Speichern &unter") << "the marker kept where the text has one";
  EXPECT_EQ(t.translator.TranslateText("First line\r\nSecond line"), "Erste Zeile\r\nZweite Zeile");
  EXPECT_EQ(t.translator.TranslateText("Close"), "Schließen") << "no marker in the text: none in the translation";
  EXPECT_EQ(t.translator.TranslateText("Fish && Chips"), "Fisch && Pommes") << "a literal ampersand stays";
  EXPECT_EQ(t.translator.TranslateText("  OPEN "), "Öffnen") << "trimmed, then case-blind";
  EXPECT_EQ(t.translator.TranslateText("Unknown"), "Unknown");
  EXPECT_EQ(t.translator.TranslateText("   "), "   ");
}

TEST(Translation, TagsNamesAndExcludedProperties) {
  Translator t("EN:>Text\nDE:>Wort\n\n");
  TComponent root;
  auto& skipped = TComponent::CreateOwned<TLabel>(root, "pnlSkipped", "Text");
  skipped.SetTag(9999);
  TLabel skippedChild(&skipped, "lblInSkipped", "Text");
  auto& container = TComponent::CreateOwned<TLabel>(root, "pnlContainer", "Text");
  container.SetTag(9998);
  TLabel containerChild(&container, "lblInContainer", "Text");
  TLabel hidden(&root, "__hidden", "Text");
  auto& shallow = TComponent::CreateOwned<TLabel>(root, "_shallow", "Text");
  TLabel shallowChild(&shallow, "lblInShallow", "Text");
  TLabel noCaption(&root, "lblNoCaption", "Text");
  noCaption.SetTag(10002);  // captions excluded
  noCaption.Hint = "Text";
  TLabel lines(&root, "lstLines");
  lines.Items = {"Text", "Other"};
  t.translator.AddComponentProperties("Items");

  ASSERT_TRUE(t.translator.Translate("DE", &root, "EN"));
  EXPECT_EQ(skipped.Caption, "Text");
  EXPECT_EQ(skippedChild.Caption, "Text") << "9999 keeps everything it owns";
  EXPECT_EQ(container.Caption, "Text");
  EXPECT_EQ(containerChild.Caption, "Wort") << "9998 skips only the component itself";
  EXPECT_EQ(hidden.Caption, "Text");
  EXPECT_EQ(shallow.Caption, "Wort");
  EXPECT_EQ(shallowChild.Caption, "Text") << "\"_\" components keep what they own";
  EXPECT_EQ(noCaption.Caption, "Text");
  EXPECT_EQ(noCaption.Hint, "Wort");
  EXPECT_EQ(lines.Items, (std::vector<std::string>{"Wort", "Other"}));
}

TEST(Translation, EventsMayVetoOrReplace) {
  Translator t("EN:>Text\nDE:>Wort\n\nEN:>Other\nDE:>Anderes\n\n");
  TComponent root;
  TLabel vetoed(&root, "lblVetoed", "Text");
  TLabel replaced(&root, "lblReplaced", "Other");
  int before = 0, after = 0, custom = 0;
  t.translator.OnBeforeTranslate = [&](TWtransl&, TWtranslLanguagesList&) { ++before; };
  t.translator.OnAfterTranslate = [&](TWtransl&, TWtranslLanguagesList&) { ++after; };
  t.translator.OnCustomTranslate = [&](TWtransl&, TComponent&, TWtranslLanguagesList&) { ++custom; };
  t.translator.OnBeforeTranslateComponent = [&](TWtransl&, TComponent& c, TWtranslLanguagesList&, bool& allow) {
    allow = &c != &vetoed;
  };
  t.translator.OnPropertyTranslate = [](TWtransl&, TPersistent&, const TPropertyInfo*, const std::string& old,
                                        std::string& value, bool found, bool&) {
    if (found && old == "Other") value = "[" + value + "]";
  };
  ASSERT_TRUE(t.translator.Translate("DE", &root, "EN"));
  EXPECT_EQ(vetoed.Caption, "Text");
  EXPECT_EQ(replaced.Caption, "[Anderes]");
  EXPECT_EQ(before, 1);
  EXPECT_EQ(after, 1);
  EXPECT_EQ(custom, 2) << "the root and the translated label";
}

TEST(Translation, MessageSetsAndWideLines) {
  Translator t("EN:>Wrong parameter\nDE:>Falscher Parameter\n\n");
  TComponent root;
  auto& texts = TComponent::CreateOwned<TTextResources>(root);
  EXPECT_EQ(texts.Tag(), 9997);
  ASSERT_TRUE(t.translator.Translate("DE", &root, "EN"));
  EXPECT_EQ(texts.Text(4), "Wrong parameter") << "tagged 9997 without a handler: unchanged";
  EXPECT_EQ(texts.Text(1), "Unable to execute \"%s\"");

  EXPECT_TRUE(texts.TranslateTexts([&](const std::string& s) { return t.translator.TranslateText(s); }));
  EXPECT_EQ(texts.Text(4), "Falscher Parameter");
  EXPECT_FALSE(texts.TranslateTexts([](const std::string&) { return std::string("again"); })) << "only once";
  EXPECT_EQ(texts.Text(4), "Falscher Parameter");

  TWideStringList list;
  list.Lines = {u"Wrong parameter", u"other"};
  TCustomObjectTranslator translator = FindCustomTranslator(list);
  ASSERT_TRUE(translator);
  EXPECT_TRUE(translator(t.translator, list));
  EXPECT_EQ(list.Lines[0], u"Falscher Parameter");
  EXPECT_EQ(list.Lines[1], u"other");
}

TEST(Translation, DefaultLanguageFromTheFirstFileListingOne) {
  platform::testing::ScratchFolder folder;
  ui_test::WriteFile(folder / "host.lng", "[Languages]\nDefault=FR\n");
  ui_test::WriteFile(folder / "module.lng", "[Languages]\nDefault=DE\n$DE=Deutsch\n$EN=English\n");
  TWtransl translator;
  translator.LanguageFile = (folder / "missing.lng") + "|" + (folder / "host.lng") + "|" + (folder / "module.lng");
  std::vector<std::string> languages;
  EXPECT_EQ(translator.DefaultLanguage(&languages), "DE") << "a file without listed languages does not count";
  EXPECT_EQ(languages, (std::vector<std::string>{"DE,Deutsch", "EN,English"}));

  // Later files override earlier ones for the same source text.
  ui_test::WriteFile(folder / "host.lng", "EN:>Text\nDE:>Host\n\n");
  ui_test::WriteFile(folder / "module.lng", "EN:>Text\nDE:>Modul\n\n[Languages]\nDefault=DE\n$DE=Deutsch\n");
  TComponent root;
  TLabel label(&root, "lbl", "Text");
  ASSERT_TRUE(translator.Translate("", &root, "EN")) << "the default language as target";
  EXPECT_EQ(label.Caption, "Modul");
}

TEST(LanguageFiles, BadLinesAreSkippedAndNamedOnce) {
  Translator t("Encoding=klingon\n"
               "Locale=0xZZ\n"
               "Charset=windows-9999\n"
               "Colour=blue\n"
               "BiDiMode=sideways\n"
               "\n"
               ":>no language code\n"
               "EN:>Text\nDE:>Wort\n\n"
               "[Languages\n");
  const uint32_t locale = platform::threadLocale();
  TComponent root;
  TLabel label(&root, "lbl", "Text");
  ASSERT_TRUE(t.translator.Translate("DE", &root, "EN"));
  EXPECT_EQ(label.Caption, "Wort") << "the good entry is still read";
  EXPECT_EQ(platform::threadLocale(), locale);
  const std::string file = t.translator.LanguageFile;
  const std::vector<std::string> expected = {
      "Language file " + file + ", line 1: unknown Encoding= value \"klingon\"",
      "Language file " + file + ", line 2: bad Locale= value \"0xZZ\"",
      "Language file " + file + ", line 3: unknown Charset= value \"windows-9999\"",
      "Language file " + file + ", line 4: unknown directive \"Colour\"",
      "Language file " + file + ", line 5: unknown BiDiMode= value \"sideways\"",
      "Language file " + file + ", line 7: malformed entry line",
      "Language file " + file + ", line 11: malformed section header",
  };
  EXPECT_EQ(t.warnings, expected);

  // Reading the file again (another language pair) warns no more.
  ASSERT_FALSE(t.translator.Translate("FR", &root, "EN"));
  EXPECT_EQ(t.warnings.size(), expected.size());
}

TEST(LanguageFiles, HugeAndUnreadableFilesAreSkipped) {
  Translator t("EN:>Text\nDE:>Wort\n\n");
  {
    std::ofstream huge(t.folder / "huge.lng", std::ios::binary);
    const std::string block(1024 * 1024, 'x');
    for (size_t i = 0; i <= MaxLanguageFileSize / block.size(); ++i) huge << block;
  }
  t.translator.LanguageFile = (t.folder / "huge.lng") + "|" + t.translator.LanguageFile;
  TComponent root;
  TLabel label(&root, "lbl", "Text");
  ASSERT_TRUE(t.translator.Translate("DE", &root, "EN"));
  EXPECT_EQ(label.Caption, "Wort");
  ASSERT_EQ(t.warnings.size(), 1u);
  EXPECT_EQ(t.warnings[0], "Language file " + (t.folder / "huge.lng") + ": is larger than 8 MB and is not read");
}

TEST(LanguageFiles, CharsetsLocalesAndEncodings) {
  // A caption whose font takes the file's character set is in its code page;
  // one whose font follows its parent is in the process's ANSI code page,
  // where Cyrillic survives only if that code page has it (always on POSIX,
  // where it is UTF-8; on Windows only with a Cyrillic system code page).
  bool lossy = false;
  platform::wideToAnsi(u"\u0414\u0430", &lossy);
  const std::u16string cyrillic = lossy ? u"??" : u"\u0414\u0430";
  const uint32_t locale = platform::threadLocale();
  Translator t("Charset=windows-1251\nLocale=1049\n//saveuntr\n\nEN:>Yes\nRU:>\xC4\xE0\n\n");
  TComponent root;
  TLabel label(&root, "lbl", "Yes");
  ASSERT_TRUE(t.translator.Translate("RU", &root, "EN"));
  EXPECT_EQ(platform::fontCodePageToWide(1251, label.Caption), u"\u0414\u0430") << "read in code page 1251";
  EXPECT_EQ(label.Font.Charset, 204);
  EXPECT_EQ(platform::threadLocale(), 1049u);
  const TLanguageFileOptions options = t.translator.FileOptions();
  EXPECT_EQ(options.CodePage, 1251u);
  EXPECT_EQ(options.SaveModes, std::vector<std::string>{"//saveuntr"});

  platform::setThreadLocale(locale);
  EXPECT_TRUE(t.warnings.empty()) << (t.warnings.empty() ? "" : t.warnings[0]);

  // A component whose font follows its parent keeps its character set; a
  // UTF-8 file (here with its byte order mark) is read as UTF-8.
  Translator utf8("\xEF\xBB\xBF" "Encoding=utf-8\nCharset=windows-1251\n\nEN:>Yes\nRU:>\xD0\x94\xD0\xB0\n\n");
  TLabel parented(&root, "lblParented", "Yes");
  parented.ParentFont = true;
  ASSERT_TRUE(utf8.translator.Translate("RU", &parented, "EN"));
  EXPECT_EQ(platform::ansiToWide(parented.Caption), cyrillic);
  EXPECT_EQ(parented.Font.Charset, 1);
  EXPECT_TRUE(utf8.warnings.empty());
}

TEST(LanguageFiles, CaptionsAreInTheCodePageOfTheirFontsCharset) {
  // Code page 1251 bytes on Windows (the system draws them in a Russian
  // font), UTF-8 on POSIX.
  std::u16string probe;
  ASSERT_TRUE(platform::codePageToWide(1251, "\xC4\xE0", probe)) << "code page 1251 is installed";
  const bool windows = platform::testing::windowsPlatform();
  const std::string da = windows ? "\xC4\xE0" : "\xD0\x94\xD0\xB0";
  const std::string net = windows ? "\xCD\xE5\xF2" : "\xD0\x9D\xD0\xB5\xD1\x82";
  const std::string ansiDa = platform::wideToAnsi(u"\u0414\u0430");
  Translator t("Charset=windows-1251\n\nEN:>Yes\nRU:>\xC4\xE0\n\nEN:>No\nRU:>\xCD\xE5\xF2\n\n");
  t.translator.AddComponentProperties("Items");
  TComponent root;
  TLabel label(&root, "lbl", "Yes");
  label.Hint = "No";
  label.Items = {"No", "Other"};
  TLabel parented(&root, "lblParented", "Yes");
  parented.ParentFont = true;
  ui_test::TAction action(&root, "actYes", "Yes");

  ASSERT_TRUE(t.translator.Translate("RU", &root, "EN"));
  EXPECT_EQ(label.Font.Charset, 204);
  EXPECT_EQ(label.Caption, da);
  EXPECT_EQ(label.Hint, net);
  EXPECT_EQ(label.Items, (std::vector<std::string>{net, "Other"}));
  EXPECT_EQ(parented.Caption, ansiDa) << "a font that follows its parent: the ANSI code page";
  EXPECT_EQ(action.Caption, ansiDa) << "no font: the ANSI code page";
  EXPECT_EQ(t.translator.TranslateText("Yes"), ansiDa) << "the module's messages go to the log as ANSI text";

  // Back to English: the captions are looked up in their own code page.
  ASSERT_TRUE(t.translator.Translate("EN", &root, "RU"));
  EXPECT_EQ(label.Caption, "Yes");
  EXPECT_EQ(label.Hint, "No");
  EXPECT_EQ(label.Items, (std::vector<std::string>{"No", "Other"}));
  EXPECT_EQ(action.Caption, "Yes");

  // Without Charset= the font keeps its character set and the caption the
  // ANSI code page.
  Translator plain("Encoding=utf-8\n\nEN:>Yes\nRU:>\xD0\x94\xD0\xB0\n\n");
  TLabel other(&root, "lblOther", "Yes");
  ASSERT_TRUE(plain.translator.Translate("RU", &other, "EN"));
  EXPECT_EQ(other.Font.Charset, 1);
  EXPECT_EQ(other.Caption, ansiDa);
  EXPECT_TRUE(t.warnings.empty() && plain.warnings.empty());
}

TEST(LanguageFiles, WideTextPropertiesTakeTheTranslationItself) {
  // "Да ✓": the check mark is in neither code page 1251 nor 1252.
  const std::u16string translation = u"\u0414\u0430 \u2713";
  Translator t("Encoding=utf-8\nCharset=windows-1251\n\nEN:>Yes\nRU:>\xD0\x94\xD0\xB0 \xE2\x9C\x93\n\n");
  t.translator.AddComponentProperties("Value");
  TComponent root;
  TLabel label(&root, "lbl");
  label.Value = platform::OleVariant::fromString(u"Yes");
  TLabel parented(&root, "lblParented");
  parented.ParentFont = true;
  parented.Value = platform::OleVariant::fromString(u"Yes");
  TLabel untranslated(&root, "lblUntranslated");
  untranslated.Value = platform::OleVariant::fromString(u"\u03A9 \u2260");  // no entry, in neither code page
  std::vector<std::pair<std::string, std::string>> seen;
  t.translator.OnPropertyTranslate = [&](TWtransl&, TPersistent&, const TPropertyInfo* property,
                                         const std::string& old, std::string& value, bool, bool&) {
    if (property->Kind == TPropertyKind::Variant) seen.emplace_back(old, value);
  };

  ASSERT_TRUE(t.translator.Translate("RU", &root, "EN"));
  const auto wide = [](const TLabel& l) { return std::u16string(l.Value.raw().bstrVal); };
  EXPECT_EQ(wide(label), translation);
  EXPECT_EQ(wide(parented), translation);
  EXPECT_EQ(wide(untranslated), u"\u03A9 \u2260") << "a text without a translation is not rewritten";
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Yes", platform::wideToFontCodePage(1251, translation)},
      {"Yes", platform::wideToAnsi(translation)},
      {platform::wideToFontCodePage(1251, u"\u03A9 \u2260"), platform::wideToFontCodePage(1251, u"\u03A9 \u2260")}};
  EXPECT_EQ(seen, expected) << "the event sees the 8-bit texts of the component's code page";

  // A handler's own text reaches the wide property from its code page.
  t.translator.OnPropertyTranslate = [](TWtransl&, TPersistent&, const TPropertyInfo*, const std::string&,
                                        std::string& value, bool, bool&) { value = "[" + value + "]"; };
  label.Value = platform::OleVariant::fromString(u"Yes");
  ASSERT_TRUE(t.translator.Translate("RU", &label, "EN"));
  const std::string handled = "[" + platform::wideToFontCodePage(1251, translation) + "]";
  EXPECT_EQ(wide(label), platform::fontCodePageToWide(1251, handled));
}

TEST(LanguageFiles, TheShippedGermanSampleReadsCleanly) {
  TWtransl translator;
  translator.LanguageFile = std::string(CORVANE_SOURCE_DIR) + "/samples/corvane.lng.example";
  std::vector<std::string> warnings;
  translator.OnWarning = [&](const std::string& message) { warnings.push_back(message); };
  std::vector<std::string> languages;
  EXPECT_EQ(translator.DefaultLanguage(&languages), "DE");
  EXPECT_EQ(languages, (std::vector<std::string>{"DE,Deutsch", "EN,English"}));
  TComponent root;
  TLabel label(&root, "lblEdit", "Open in your editor");
  TLabel message(&root, "lblMessage", "Unable to execute \"%s\"");
  ASSERT_TRUE(translator.Translate("DE", &root, "EN"));
  EXPECT_EQ(platform::ansiToUtf8(label.Caption), "Im Editor öffnen");
  EXPECT_EQ(platform::ansiToUtf8(message.Caption), "\"%s\" konnte nicht ausgeführt werden");
  EXPECT_EQ(translator.EntryCount(), 15);
  EXPECT_TRUE(warnings.empty()) << (warnings.empty() ? "" : warnings[0]);
}
