#include "components/core/DropData.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

using namespace quorvel;
namespace fs = std::filesystem;

namespace {

class FakeFormats : public DropFormats {
public:
    FakeFormats& set(std::string_view format, std::string bytes) {
        formats_[std::string(format)] = std::move(bytes);
        return *this;
    }
    bool has(std::string_view format) const override {
        return formats_.count(std::string(format)) > 0;
    }
    std::string data(std::string_view format) const override {
        auto it = formats_.find(std::string(format));
        return it == formats_.end() ? std::string() : it->second;
    }

private:
    std::map<std::string, std::string> formats_;
};

std::string utf16le(std::u16string_view s) {
    std::string out;
    for (char16_t c : s) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

class TempDir {
public:
    TempDir() {
        path_ = fs::temp_directory_path() / ("quorvel-drop-" + std::to_string(::getpid()));
        fs::create_directories(path_);
    }
    ~TempDir() { fs::remove_all(path_); }
    std::string write(const std::string& name, const std::string& bytes) const {
        const fs::path file = path_ / name;
        std::ofstream(file, std::ios::binary) << bytes;
        return file.string();
    }
    std::string fileUri(const std::string& encodedName) const {
        return "file://" + path_.string() + "/" + encodedName;
    }

private:
    fs::path path_;
};

}  // namespace

TEST(InternetShortcut, AddressFromTheLineAfterTheSection) {
    EXPECT_EQ(internetShortcutAddress("[InternetShortcut]\r\nURL=http://a.example/?x=1\r\n"),
              "http://a.example/?x=1");
    // Another key on the second line still gives what follows its first "=".
    EXPECT_EQ(internetShortcutAddress("[InternetShortcut]\r\nIDList=abc=d\r\nURL=http://b/\r\n"),
              "abc=d");
    // Linux desktops write LF only.
    EXPECT_EQ(internetShortcutAddress("[InternetShortcut]\nURL=http://c/\n"), "http://c/");
    // A first line longer than the section name is used itself.
    EXPECT_EQ(internetShortcutAddress("[InternetShortcut]URL=http://d/\r\n"), "http://d/");
}

TEST(InternetShortcut, NoAddressWithoutSectionOrEquals) {
    EXPECT_FALSE(internetShortcutAddress("[DEFAULT]\r\nBASEURL=http://a/\r\n"));
    EXPECT_FALSE(internetShortcutAddress("[InternetShortcut]\r\nno key here\r\n"));
    EXPECT_FALSE(internetShortcutAddress("[InternetShortcut]"));
    EXPECT_FALSE(internetShortcutAddress(""));
    EXPECT_FALSE(internetShortcutAddress("[internetshortcut]\r\nURL=http://a/\r\n"));
}

TEST(InternetShortcut, AddressIsCutTo250CharactersAndWindowsTextIsRead) {
    const std::string longUrl = "http://x/" + std::string(300, 'a');
    EXPECT_EQ(*internetShortcutAddress("[InternetShortcut]\r\nURL=" + longUrl), longUrl.substr(0, 250));
    // Characters, not bytes: 250 two-byte letters stay whole.
    std::string umlauts;
    for (int i = 0; i < 260; ++i) umlauts += "\xC3\xA4";
    EXPECT_EQ(internetShortcutAddress("[InternetShortcut]\r\nURL=" + umlauts)->size(), 500u);
    // A Windows-1252 "é" becomes UTF-8.
    EXPECT_EQ(internetShortcutAddress("[InternetShortcut]\r\nURL=http://caf\xE9/"),
              "http://caf\xC3\xA9/");
}

TEST(LinkLines, Utf16AndUtf8WithOrWithoutTitle) {
    auto moz = parseLinkLines(utf16le(u"http://a.example/p\nCaf\u00e9 \U0001F600 offers"));
    ASSERT_TRUE(moz);
    EXPECT_EQ(moz->address, "http://a.example/p");
    EXPECT_EQ(moz->title, "Caf\xC3\xA9 \xF0\x9F\x98\x80 offers");

    auto utf8 = parseLinkLines("http://b/\r\n Title with blanks \r\n");
    ASSERT_TRUE(utf8);
    EXPECT_EQ(utf8->address, "http://b/");
    EXPECT_EQ(utf8->title, " Title with blanks ");

    auto bare = parseLinkLines(utf16le(u"http://c/") + std::string(2, '\0'));
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->address, "http://c/");
    EXPECT_EQ(bare->title, "");

    EXPECT_FALSE(parseLinkLines(""));
    EXPECT_FALSE(parseLinkLines("\ntitle only"));
}

TEST(UriListTest, SplitsFilesFromAddressesAndDecodesPaths) {
    const UriList list = parseUriList(
        "# comment\r\n"
        "file:///home/u/Shortcut%20to%20Caf%C3%A9.url\r\n"
        "http://x.example/a%20b\r\n"
        "\r\n"
        "file://localhost/tmp/b.url\r\n"
        "FILE:/tmp/c\n"
        "https://y.example/\r\n");
    EXPECT_EQ(list.filePaths, (std::vector<std::string>{
                                  "/home/u/Shortcut to Caf\xC3\xA9.url", "/tmp/b.url", "/tmp/c"}));
    EXPECT_EQ(list.addresses,
              (std::vector<std::string>{"http://x.example/a%20b", "https://y.example/"}));
}

TEST(DescriptorTitle, FirstFileNameLessItsEnding) {
    std::string block(76 + 260, '\0');
    block[0] = 1;
    const std::string name = "Great offers.url";
    block.replace(76, name.size(), name);
    EXPECT_EQ(fileGroupDescriptorTitle(block), "Great offers");
    EXPECT_EQ(fileGroupDescriptorTitle(std::string(40, '\0')), "");
    EXPECT_EQ(withoutUrlEnding("abc"), "");
    EXPECT_EQ(withoutUrlEnding("Caf\xC3\xA9.url"), "Caf\xC3\xA9");
}

TEST(FetchURL, BrowserLinkGivesAddressAndWholeTitle) {
    FakeFormats firefox;
    firefox.set(dropformat::kMozUrl, utf16le(u"http://shop.example/win.url\nWin a car.url"))
        .set(dropformat::kUriList, "http://shop.example/win.url\r\n")
        .set(dropformat::kPlainText, "http://shop.example/win.url");
    ASSERT_TRUE(hasURLFormats(firefox));
    const URLDropData data = fetchURLDropData(firefox);
    EXPECT_TRUE(data.found);
    EXPECT_EQ(data.url, "http://shop.example/win.url");
    EXPECT_EQ(data.title, "Win a car.url");  // the browser's title is not a file name

    // Qt on X11 lists Firefox's link as _NETSCAPE_URL and text/uri-list.
    FakeFormats x11;
    x11.set(dropformat::kNetscapeUrl, "http://n.example/\nNetscape title")
        .set(dropformat::kUriList, "http://n.example/\r\n");
    EXPECT_EQ(fetchURLDropData(x11).url, "http://n.example/");
    EXPECT_EQ(fetchURLDropData(x11).title, "Netscape title");
}

TEST(FetchURL, RealDescriptorNameLosesItsEnding) {
    std::string block(76 + 260, '\0');
    block.replace(76, 13, "Car offer.url");
    FakeFormats wine;
    wine.set(dropformat::kMozUrl, utf16le(u"http://w/\nignored"))
        .set(dropformat::kFileGroupDescriptor, block);
    EXPECT_EQ(fetchURLDropData(wine).title, "Car offer");
}

TEST(FetchURL, ShortcutFileFromAFileManager) {
    TempDir dir;
    dir.write("Shortcut to Sweepstakes.url", "[InternetShortcut]\r\nURL=http://s.example/\r\n");
    FakeFormats files;
    const std::string uri = dir.fileUri("Shortcut%20to%20Sweepstakes.url");
    // File managers also offer the file as text and as a file: link: neither is the address.
    files.set(dropformat::kUriList, uri + "\r\n")
        .set(dropformat::kPlainText, uri)
        .set(dropformat::kNetscapeUrl, uri + "\nShortcut to Sweepstakes.url");
    const URLDropData data = fetchURLDropData(files);
    EXPECT_TRUE(data.found);
    EXPECT_EQ(data.url, "http://s.example/");
    EXPECT_EQ(data.title, "Shortcut to Sweepstakes");
    EXPECT_EQ(proposedItemName(data.title), "Sweepstakes");
}

TEST(ProposedName, ShortcutPrefixIsTakenOffInExactCase) {
    EXPECT_EQ(proposedItemName("Shortcut to Contest"), "Contest");
    EXPECT_EQ(proposedItemName("shortcut to Contest"), "shortcut to Contest");
    EXPECT_EQ(proposedItemName("Shortcut to "), "");
    EXPECT_EQ(proposedItemName(" Shortcut to X"), " Shortcut to X");
    EXPECT_EQ(proposedItemName("Shortcut to " + std::string(300, 'n')), std::string(255, 'n'));
    EXPECT_EQ(proposedItemName(std::string(300, 'n')).size(), 300u);
}

TEST(DropEffect, ModifierRuleAmongPermittedEffects) {
    const int all = kDropEffectCopy | kDropEffectMove | kDropEffectLink;
    EXPECT_EQ(defaultDropEffect(all, false, false), kDropEffectCopy);
    EXPECT_EQ(defaultDropEffect(all, true, true), kDropEffectLink);
    EXPECT_EQ(defaultDropEffect(all, true, false), kDropEffectMove);
    EXPECT_EQ(defaultDropEffect(all, false, true), kDropEffectCopy);
    EXPECT_EQ(defaultDropEffect(kDropEffectMove | kDropEffectLink, false, false), kDropEffectMove);
    EXPECT_EQ(defaultDropEffect(kDropEffectLink, false, false), kDropEffectLink);
    EXPECT_EQ(defaultDropEffect(kDropEffectNone, true, true), kDropEffectNone);
    // The URL target wants links only: a browser's copy/move/link drag links, copy alone fails.
    EXPECT_EQ(defaultDropEffect(permittedDropEffects(all, kDropEffectLink), false, false),
              kDropEffectLink);
    EXPECT_EQ(permittedDropEffects(kDropEffectCopy, kDropEffectLink), kDropEffectNone);
}
