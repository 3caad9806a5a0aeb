// The configuration file: how its lines are cut into entries and fields, and which entry a lookup
// takes.
#include "config/config.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_file.h"

namespace snp {
namespace {

class ConfigFile : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string name = (std::filesystem::temp_directory_path() / "snp-config-XXXXXX").string();
        const int fd = ::mkstemp(name.data());
        ASSERT_GE(fd, 0);
        ::close(fd);
        path_ = name;
    }
    void TearDown() override { std::remove(path_.c_str()); }

    void Write(std::string_view bytes) {
        std::FILE* f = std::fopen(path_.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    std::vector<ConfigEntry> Entries() {
        std::vector<ConfigEntry> entries;
        ConfigFileReader reader(path_.c_str());
        ConfigEntry e;
        while (reader.Next(e)) entries.push_back(e);
        return entries;
    }
    std::string Lookup(std::string_view key, std::int32_t number = 0) {
        ConfigLookup storage;
        ReadConfigValue(storage, "", key, number, path_.c_str());
        return std::string(storage.value.view());
    }

    std::string path_;
};

// A well-formed entry for `key` with number `number` and `plain` encrypted.
std::string Entry(std::string_view key, int number, std::string_view plain) {
    const std::string k(key);
    return ";" + k + ";\n" + std::to_string(number) + ";" + k + ";" +
           EncryptConfigValue(plain, kConfigKey) + "\n";
}

const std::string kExample = Entry("DATABASE", 1, "ZEITDSN") + Entry("SCHEMA", 2, "vorkandelX") +
                             Entry("LOGIN", 3, "zeit") + Entry("PASS", 4, "geheim");

TEST_F(ConfigFile, FieldsOfAnEntry) {
    const struct {
        const char* name;
        std::string line1, line2;
        std::string_view section;
        std::int32_t number;
        std::string_view key, value;
    } cases[] = {
        {"example", ";DATABASE;\n", "1;DATABASE;0A1B\n", "DATABASE", 1, "DATABASE", "0A1B"},
        {"text_around_fields", "x;SEC;y\n", "2;KEY;V\n", "SEC", 2, "KEY", "V"},
        {"blank_line_1", "\n", "1;K;V\n", "", 1, "K", "V"},
        {"one_separator_in_line_1", "a;b\n", "1;K;V\n", "", 1, "K", "V"},
        {"adjacent_separators_give_rest_of_line", "x;;y\n", "1;;V\n", ";y\n", 1, ";V\n", "V"},
        {"one_separator_in_line_2", "\n", "7;KEY\n", "", 7, "", "KEY"},
        {"no_separator_in_line_2", "\n", "KEY\n", "", 0, "", "KEY\n"},
        {"line_2_begins_with_separator", "\n", ";K;V\n", "", 0, "K", "V"},
        {"empty_value_is_the_line_feed", "\n", "1;K;\n", "", 1, "K", "\n"},
        {"separators_belong_to_the_value", "\n", "1;K;V;W;\n", "", 1, "K", "V;W;"},
        {"no_trimming", "; S ;\n", " 5; K ; V \n", " S ", 5, " K ", " V "},
        {"number_as_atoi", "\n", "  -12abc;K;V\n", "", -12, "K", "V"},
        {"number_with_plus", "\n", "+5;K;V\n", "", 5, "K", "V"},
        {"number_not_a_number", "\n", "x5;K;V\n", "", 0, "K", "V"},
        {"number_text_holds_11_characters", "\n", "000000000012;K;V\n", "", 1, "K", "V"},
        {"number_wraps_as_atoi", "\n", "99999999999;K;V\n", "", 1215752191, "K", "V"},
        {"cr_lf_line_ends", ";S;\r\n", "1;K;V\r\n", "S", 1, "K", "V"},
        {"lone_cr_is_text", ";S\r;\n", "1;K;V\rW\n", "S\r", 1, "K", "V\rW"},
        {"last_line_without_line_feed", "\n", "1;K;ABCD", "", 1, "K", "ABCD"},
        {"nul_ends_the_line_text", "\n", std::string("1;K;AB\0CD\n", 10), "", 1, "K", "AB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Write(c.line1 + c.line2);
        const auto entries = Entries();
        ASSERT_EQ(entries.size(), 1u);
        const ConfigEntry& e = entries[0];
        EXPECT_EQ(e.section.view(), c.section);
        EXPECT_EQ(e.number, c.number);
        EXPECT_EQ(e.key.view(), c.key);
        EXPECT_EQ(e.value.view(), c.value);
        EXPECT_FALSE(e.value_cut);
    }
}

TEST_F(ConfigFile, LongLinesAreReadInPieces) {
    // Line 1 holds 199 characters: the rest of a longer line is read as line 2.
    Write(";S;" + std::string(196, 'a') + "1;K;V\n" + "5;L;W\n");
    auto entries = Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].key.view(), "K");
    EXPECT_EQ(entries[0].value.view(), "V");  // "5;L;W" is an unpaired last line

    // Line 2 holds 399 characters: it is cut, gets a line feed, and its rest is line 1 of the
    // next entry.
    const std::string value(395, 'B');
    Write("\n1;K;" + value + "C;REST;\n2;N;D\n");
    entries = Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].key.view(), "K");
    EXPECT_EQ(entries[0].value.view(), value.substr(0, 200));  // the field holds 200
    EXPECT_TRUE(entries[0].value_cut);
    EXPECT_EQ(entries[1].section.view(), "REST");
    EXPECT_EQ(entries[1].key.view(), "N");
    EXPECT_EQ(entries[1].first_line, 3);

    // Over-long key and number fields are held cut, never past their buffers.
    Write("\n" + std::string(300, '7') + ";" + std::string(60, 'K') + "\n");
    entries = Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].number, static_cast<std::int32_t>(77777777777LL));
    EXPECT_EQ(entries[0].value.view(), std::string(60, 'K'));
    Write("\n1;" + std::string(250, 'K') + ";V\n");
    entries = Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].key.view(), std::string(200, 'K'));
    EXPECT_TRUE(entries[0].key_cut);
    EXPECT_EQ(entries[0].value.view(), "V");
}

TEST_F(ConfigFile, EndOfTextByteEndsTheFile) {
    Write(Entry("DATABASE", 1, "ZEITDSN") + "\x1A" + Entry("LOGIN", 3, "zeit"));
    EXPECT_EQ(Lookup("DATABASE"), "ZEITDSN");
    EXPECT_EQ(Lookup("LOGIN"), "");
    EXPECT_EQ(Entries().size(), 1u);
}

TEST_F(ConfigFile, StartUpLookupsOfTheExample) {
    Write(kExample);
    EXPECT_EQ(Lookup("DATABASE"), "ZEITDSN");
    EXPECT_EQ(Lookup("SCHEMA"), "vorkandelX");
    EXPECT_EQ(Lookup("LOGIN"), "zeit");
    EXPECT_EQ(Lookup("PASS"), "geheim");

    ConfigLookup storage;
    ReadConfigValue(storage, "", "LOGIN", 0, path_.c_str());
    EXPECT_EQ(storage.number, 3);
    EXPECT_EQ(storage.section.view(), "LOGIN");
    EXPECT_EQ(storage.key.view(), "LOGIN");

    // CR LF line ends read the same.
    std::string crlf;
    for (const char c : kExample) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    Write(crlf);
    EXPECT_EQ(Lookup("PASS"), "geheim");
    // And the last value without a final line feed.
    Write(kExample.substr(0, kExample.size() - 1));
    EXPECT_EQ(Lookup("PASS"), "geheim");
}

TEST_F(ConfigFile, WhichEntryALookupTakes) {
    const std::string shadow_number =
        ";X;\n0;X;" + EncryptConfigValue("nummer0", kConfigKey) + "\n";
    const std::string shadow_section = "X\n9;X;" + EncryptConfigValue("ohne", kConfigKey) + "\n";
    const std::string adjacent = "a;;b\n9;X;" + EncryptConfigValue("nachbar", kConfigKey) + "\n";
    const struct {
        const char* name;
        std::string file;
        std::string_view key;
        std::int32_t number;
        std::string_view expected;
    } cases[] = {
        {"number_0_first_shadows_all", shadow_number + kExample, "PASS", 0, "nummer0"},
        {"empty_section_first_shadows_all", shadow_section + kExample, "LOGIN", 0, "ohne"},
        {"adjacent_separators_do_not_shadow", adjacent + kExample, "LOGIN", 0, "zeit"},
        {"match_by_number", kExample, "NONE", 3, "zeit"},
        {"lower_case_key_not_found", Entry("pass", 4, "geheim"), "PASS", 0, ""},
        {"blank_after_key_not_found", Entry("PASS ", 4, "geheim"), "PASS", 0, ""},
        {"first_of_two_wins", Entry("PASS", 4, "eins") + Entry("PASS", 5, "zwei"), "PASS", 0,
         "eins"},
        // The blank line is a line 1 without separators; its line 2 is ";SCHEMA;", an empty
        // value with the number 0, which every later lookup takes.
        {"blank_line_shifts_the_pairing", Entry("DATABASE", 1, "D") + "\n" + kExample, "SCHEMA", 0,
         ""},
        {"blank_line_before_its_own_entry", Entry("DATABASE", 1, "D") + "\n" + kExample, "DATABASE",
         0, "D"},
        {"empty_file", "", "PASS", 0, ""},
        {"one_line_file", ";PASS;\n", "PASS", 0, ""},
        {"plain_text_shorter_than_a_group", "\n1;PASS;geheim\n", "PASS", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Write(c.file);
        EXPECT_EQ(Lookup(c.key, c.number), c.expected);
    }
}

TEST_F(ConfigFile, ValueWithAnIncompleteLastGroup) {
    // The whole groups decrypt; the incomplete rest is ignored.
    const std::string hex = EncryptConfigValue("12345678abc", kConfigKey);
    Write(";PASS;\n4;PASS;" + hex.substr(0, 16 + 5) + "\n");
    EXPECT_EQ(Lookup("PASS"), "12345678");
    Write(";PASS;\n4;PASS;\n");  // the empty value: nothing but the line feed
    EXPECT_EQ(Lookup("PASS"), "");
}

TEST(ConfigLookup, MissingFileGivesTheEmptyValue) {
    ConfigLookup storage;
    storage.value.assign("alt");
    storage.number = 7;
    ReadConfigValue(storage, "", "PASS", 0, "/nonexistent/snp.ini");
    EXPECT_TRUE(storage.value.empty());
    EXPECT_EQ(storage.number, 0);
}

}  // namespace
}  // namespace snp
