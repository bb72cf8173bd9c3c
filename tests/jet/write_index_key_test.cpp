// Index keys. The real test: every entry of every index in every Access 97, Jet 4 and ACE fixture (the
// catalogue's ParentIdName index above all) is re-encoded from the row it points to and compared byte for byte
// with what Access wrote.
#include "jet/check.h"
#include "jet/error.h"
#include "jet/index_key.h"
#include "write_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

namespace {

std::vector<std::string> plainFixtures()
{
    std::vector<std::string> out;
    std::istringstream tsv(wt::slurp(wt::fixture("files.tsv")));
    std::string line;
    std::getline(tsv, line);  // header
    while (std::getline(tsv, line)) {
        std::istringstream f(line);
        std::string file, format, password;
        std::getline(f, file, '\t');
        std::getline(f, format, '\t');
        std::getline(f, password, '\t');
        if (!password.empty() || file.find("encrypt") != std::string::npos)
            continue;
        out.push_back(file);
    }
    return out;
}

TEST(WriteIndexKey, EveryIndexEntryOfEveryFixtureReencodesExactly)
{
    std::size_t entries = 0, files = 0;
    for (const std::string& rel : plainFixtures()) {
        SCOPED_TRACE(rel);
        const jet::CheckReport r = jet::checkFileReport(wt::fixtureFile(rel));
        for (const auto& f : r.findings)
            EXPECT_NE(f.kind, jet::CheckFinding::Kind::Index) << jet::describe(f);
        EXPECT_GT(r.indexEntries, 0u) << "no index entry verified";
        EXPECT_EQ(r.unkeyedIndexes, 0u) << "an index holds text the engine cannot key";
        entries += r.indexEntries;
        ++files;
    }
    EXPECT_GT(files, 60u);
    EXPECT_GT(entries, 5000u);
    std::printf("%zu index entries of %zu files re-encoded\n", entries, files);
}

// Every character of the Basic Multilingual Plane, both orders: the key the engine writes for the
// one-character text equals the entry measured for it, for all 63,487 characters of each file.
TEST(WriteIndexKey, EveryCharacterKeysAsMeasured)
{
    for (const auto& [file, order] : {std::pair {"general-keys.tsv", jet::SortOrder::General},
                                      std::pair {"general-legacy-keys.tsv", jet::SortOrder::GeneralLegacy}}) {
        SCOPED_TRACE(file);
        std::istringstream tsv(wt::slurp(wt::fixture("../collation/" + std::string(file))));
        std::string line;
        std::size_t lines = 0, equal = 0;
        std::set<char16_t> seen;
        while (std::getline(tsv, line)) {
            const auto tab = line.find('\t');
            ASSERT_NE(tab, std::string::npos) << line;
            const char16_t c = static_cast<char16_t>(std::stoul(line.substr(0, tab), nullptr, 16));
            std::vector<std::uint8_t> measured;
            for (std::size_t i = tab + 1; i + 1 < line.size(); i += 2)
                measured.push_back(static_cast<std::uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16)));
            std::vector<std::uint8_t> key {jet::key_flag::AscValue};
            jet::appendTextKey(key, std::u16string(1, c), order, true);
            ++lines;
            seen.insert(c);
            if (key == measured)
                ++equal;
            else
                ADD_FAILURE() << jet::describeChar(c) << ": " << wt::hex(key) << " measured " << line.substr(tab + 1);
        }
        EXPECT_EQ(lines, 63487u);
        EXPECT_EQ(seen.size(), 63487u);
        EXPECT_EQ(equal, lines);
    }
}

// Access 97's General order: its own keys, every character of windows-1252 and nothing else.
TEST(WriteIndexKey, Access97KeysOfTheFixturesAndTheirCodePage)
{
    std::size_t entries = 0;
    for (const char* rel : {"jackcess/V1997/testIndexCodesV1997.mdb", "jackcess/V1997/compIndexTestV1997.mdb",
                            "mdb-reader/V1997/test.mdb"}) {
        SCOPED_TRACE(rel);
        const jet::CheckReport r = jet::checkFileReport(wt::fixtureFile(rel));
        EXPECT_TRUE(r.findings.empty()) << (r.findings.empty() ? "" : jet::describe(r.findings[0]));
        entries += r.indexEntries;
    }
    EXPECT_GT(entries, 3000u);  // the index-codes file alone keys every byte of the code page in its rows
    auto key = [](std::u16string_view s, bool asc = true) {
        std::vector<std::uint8_t> k;
        jet::appendTextKey(k, s, jet::SortOrder::General97, asc);
        return k;
    };
    EXPECT_EQ(key(u"Œuvre €"), key(u"œUVRE €"));
    EXPECT_LT(key(u"Cafe"), key(u"Café"));
    EXPECT_LT(key(u"Café"), key(u"Cafeteria"));
    const auto asc = key(u"Zoë"), desc = key(u"Zoë", false);
    ASSERT_EQ(asc.size(), desc.size());  // Access 97 inverts the bytes and adds nothing
    for (std::size_t i = 0; i < asc.size(); ++i)
        EXPECT_EQ(desc[i], static_cast<std::uint8_t>(~asc[i]));
    try {
        key(u"Ωmega");
        ADD_FAILURE() << "keyed a character windows-1252 does not have";
    } catch (const jet::Error& e) {
        EXPECT_NE(std::string(e.what()).find("U+03A9"), std::string::npos) << e.what();
    }
}

// Keys of catalogue names, both sort orders, straight from the files: ParentIdName entries of the templates.
TEST(WriteIndexKey, CatalogueNamesOfBothSortOrders)
{
    using namespace jet::w;
    for (const char* rel : {"jackcess/templates/empty2003.mdb", "jackcess/templates/empty2010.accdb",
                            "jackcess/templates/empty2016.accdb", "jackcess/templates/empty2019.accdb"}) {
        SCOPED_TRACE(rel);
        jet::PageCache cache(jet::openPosixFile(wt::fixtureFile(rel), false), kPage, rel);
        Table mso = readTable(cache, 2);
        const Col* name = mso.column(u"Name");
        ASSERT_NE(name, nullptr);
        const jet::SortOrder order = sortOrderOf(*name);
        const jet::SortOrder other =
            order == jet::SortOrder::General ? jet::SortOrder::GeneralLegacy : jet::SortOrder::General;
        // Find the ParentIdName index: two columns, the second one the Name column.
        const RealIndex* pin = nullptr;
        for (const RealIndex& ix : mso.indexes)
            if (ix.columns.size() == 2 && ix.columns[1].first == name->number)
                pin = &ix;
        ASSERT_NE(pin, nullptr);
        std::set<std::vector<std::uint8_t>> stored;
        std::uint32_t pg = pin->root;
        while (!readIndexPage(cache, pg).leaf())
            pg = readIndexPage(cache, pg).entries.empty() ? readIndexPage(cache, pg).tail
                                                           : readIndexPage(cache, pg).entries.front().child;
        for (; pg != 0; pg = readIndexPage(cache, pg).next)
            for (const auto& e : readIndexPage(cache, pg).entries)
                stored.insert(std::vector<std::uint8_t>(e.bytes.begin(), e.bytes.end() - 4));
        std::size_t matched = 0, otherMatched = 0;
        forEachRow(cache, mso, [&](const RowRef& r) {
            auto cells = decodeRow(cache, mso, r.bytes, false);
            const std::u16string n = decodeStoredText(cells[name->number].bytes);
            const std::vector<std::uint8_t> parent(cells[mso.column(u"ParentId")->number].bytes);
            std::vector<std::uint8_t> key;
            jet::appendLongKey(key, static_cast<std::int32_t>(rd32(parent.data())));
            std::vector<std::uint8_t> wrong = key;
            key.push_back(jet::key_flag::AscValue);
            wrong.push_back(jet::key_flag::AscValue);
            jet::appendTextKey(key, n, order, true);
            jet::appendTextKey(wrong, n, other, true);
            matched += stored.contains(key);
            otherMatched += stored.contains(wrong);
        });
        EXPECT_EQ(matched, stored.size());
        EXPECT_LT(otherMatched, stored.size() / 4) << "the two sort orders must give different keys";
    }
}

TEST(WriteIndexKey, CaseDoesNotMatterAccentsDo)
{
    for (jet::SortOrder o : {jet::SortOrder::General, jet::SortOrder::GeneralLegacy}) {
        auto key = [&](std::u16string_view s) {
            std::vector<std::uint8_t> k;
            jet::appendTextKey(k, s, o, true);
            return k;
        };
        EXPECT_EQ(key(u"Customers"), key(u"CUSTOMERS"));
        EXPECT_EQ(key(u"Café"), key(u"CAFÉ"));
        EXPECT_NE(key(u"Cafe"), key(u"Café"));
        EXPECT_LT(key(u"Cafe"), key(u"Café"));  // the accent only breaks the tie
        EXPECT_LT(key(u"Café"), key(u"Cafeteria"));
        EXPECT_LT(key(u"apple"), key(u"Banana"));
        EXPECT_NE(key(u"ab"), key(u"a-b"));     // '-' is kept in the hidden part
        // Descending: the ascending bytes inverted, then one more end byte.
        std::vector<std::uint8_t> asc = key(u"Zoë"), desc;
        jet::appendTextKey(desc, u"Zoë", o, false);
        ASSERT_EQ(desc.size(), asc.size() + 1);
        for (std::size_t i = 0; i < asc.size(); ++i)
            EXPECT_EQ(desc[i], static_cast<std::uint8_t>(~asc[i]));
        EXPECT_EQ(desc.back(), 0x00);
    }
}

std::vector<std::uint8_t> textKey(std::u16string_view s, jet::SortOrder o = jet::SortOrder::General)
{
    std::vector<std::uint8_t> k;
    jet::appendTextKey(k, s, o, true);
    return k;
}

std::string refusal(std::u16string_view s, jet::SortOrder o)
{
    try {
        textKey(s, o);
    } catch (const jet::Error& e) {
        return e.what();
    }
    return "keyed";
}

TEST(WriteIndexKey, WhichCharactersEachOrderKeys)
{
    // Both orders key text in every script; the two orders give different keys.
    for (std::u16string_view s : {u"Πελάτες", u"Клиенты", u"Հաճախորդներ", u"לקוחות כך", u"العملاء", u"ลูกค้า",
                                  u"ग्राहक", u"კლიენტები", u"顧客", u"データ", u"고객", u"Ελλάδα2024", u"e\u0301",
                                  u"Next→", u"ＡＢＣ"}) {
        for (jet::SortOrder o : {jet::SortOrder::General, jet::SortOrder::GeneralLegacy}) {
            char16_t bad = 0;
            EXPECT_TRUE(jet::canKeyText(s, o, bad)) << jet::describeChar(bad);
            EXPECT_NO_THROW(textKey(s, o)) << jet::utf16ToUtf8(std::u16string(s));
        }
        EXPECT_NE(textKey(s, jet::SortOrder::General), textKey(s, jet::SortOrder::GeneralLegacy));
    }
    // Outside the BMP: the halves of U+1F600..U+1F64F have "General" keys (as Access wrote them in a fixture);
    // other halves, and all of them in "General - Legacy", are refused naming the half.
    char16_t bad = 0;
    EXPECT_TRUE(jet::canKeyText(u"a😀a", jet::SortOrder::General, bad));
    const std::pair<std::u16string_view, jet::SortOrder> refused[] = {
        {u"a😀a", jet::SortOrder::GeneralLegacy}, {u"🚀", jet::SortOrder::General}, {u"x\U00020000", jet::SortOrder::General}};
    for (const auto& [s, o] : refused) {
        EXPECT_FALSE(jet::canKeyText(s, o, bad));
        const std::string why = refusal(s, o);
        EXPECT_NE(why.find(jet::describeChar(bad)), std::string::npos) << why;
        EXPECT_NE(why.find(o == jet::SortOrder::General ? "\"General\"" : "\"General - Legacy\""), std::string::npos)
            << why;
    }
    // A refused text leaves what the caller had built so far as it was.
    std::vector<std::uint8_t> partial {0x7F, 0x00};
    EXPECT_THROW(jet::appendTextKey(partial, u"abc🚀", jet::SortOrder::General, true), jet::Error);
    EXPECT_EQ(partial, (std::vector<std::uint8_t> {0x7F, 0x00}));
    // A combining accent adds its weight to the letter before it: the decomposed text keys as the precomposed
    // one (both measured independently: é and the combining acute are separate entries of the files).
    for (jet::SortOrder o : {jet::SortOrder::General, jet::SortOrder::GeneralLegacy}) {
        EXPECT_EQ(textKey(u"Cafe\u0301 Zoe\u0308", o), textKey(u"Café Zoë", o));
        EXPECT_EQ(textKey(u"A\u030Angstro\u0308m", o), textKey(u"Ångström", o));
    }
    // Characters the orders ignore (here one that Unicode assigned later) add nothing to a key.
    for (jet::SortOrder o : {jet::SortOrder::General, jet::SortOrder::GeneralLegacy})
        EXPECT_EQ(textKey(u"a\u9FBCb", o), textKey(u"ab", o));
    // Trailing blanks are not keyed; blanks inside are.
    EXPECT_EQ(textKey(u"Sales  "), textKey(u"Sales"));
    EXPECT_NE(textKey(u"Sa les"), textKey(u"Sales"));
}

// Whole keys of single characters, as Access writes them: the ends of the compressed runs of the General
// table (a wrong step across a run shows here first), the letters whose older weights differ from the
// published ones, kana with their size flag and voicing, and Latin Extended-A in the legacy order.
TEST(WriteIndexKey, KnownKeysOfSingleCharacters)
{
    using B = std::vector<std::uint8_t>;
    const struct {
        char16_t c;
        jet::SortOrder order;
        B key;
    } cases[] = {
        {u'ა', jet::SortOrder::General, {0x12, 0x01, 0x01, 0x00}},
        {u'ბ', jet::SortOrder::General, {0x12, 0x02, 0x01, 0x00}},
        {u'Ж', jet::SortOrder::General, {0x10, 0x1B, 0x01, 0x00}},
        {u'Й', jet::SortOrder::General, {0x10, 0x2A, 0x01, 0x00}},
        {u'כ', jet::SortOrder::General, {0x28, 0x0C, 0x01, 0x00}},
        {u'ΐ', jet::SortOrder::General, {0x0F, 0x12, 0x01, 0x16, 0x00}},
        {u'Ā', jet::SortOrder::General, {0x0E, 0x02, 0x01, 0x17, 0x00}},
        {u'\u4E00', jet::SortOrder::General, {0xFD, 0xFF, 0x3C, 0x6A, 0x01, 0x00}},
        {u'\u4E96', jet::SortOrder::General, {0xFD, 0xFF, 0x3D, 0x02, 0x01, 0x00}},
        {u'\u9FA5', jet::SortOrder::General, {0xFD, 0xFF, 0x8E, 0xB3, 0x01, 0x00}},
        {u'\uAC00', jet::SortOrder::General, {0xC0, 0x03, 0x01, 0x00}},
        {u'\uACFD', jet::SortOrder::General, {0xC1, 0x02, 0x01, 0x00}},
        {u'\uD7A3', jet::SortOrder::General, {0xEC, 0x98, 0x01, 0x00}},
        {u'ぁ', jet::SortOrder::General, {0x7F, 0x02, 0x01, 0x01, 0x01, 0xA0, 0xFF, 0x02, 0x80, 0xFF, 0x80, 0x00}},
        {u'あ', jet::SortOrder::General, {0x7F, 0x02, 0x01, 0x01, 0x01, 0xFF, 0x02, 0x80, 0xFF, 0x80, 0x00}},
        {u'が', jet::SortOrder::General, {0x7F, 0x0A, 0x01, 0x03, 0x01, 0x01, 0xFF, 0x02, 0x80, 0xFF, 0x80, 0x00}},
        {u'Ł', jet::SortOrder::General, {0x0E, 0x48, 0x01, 0x1F, 0x00}},
        {u'€', jet::SortOrder::General, {0x07, 0xA9, 0x01, 0x00}},
        {u'’', jet::SortOrder::General, {0x07, 0x7A, 0x01, 0x00}},
        {u'–', jet::SortOrder::General, {0x01, 0x01, 0x01, 0x01, 0x80, 0x07, 0x06, 0x89, 0x00}},
        {u'Ł', jet::SortOrder::GeneralLegacy, {0x5E, 0x01, 0x1F, 0x00}},
        {u'Š', jet::SortOrder::GeneralLegacy, {0x6B, 0x01, 0x14, 0x00}},
        {u'ž', jet::SortOrder::GeneralLegacy, {0x78, 0x01, 0x14, 0x00}},
    };
    for (const auto& k : cases)
        EXPECT_EQ(textKey(std::u16string(1, k.c), k.order), k.key) << jet::describeChar(k.c);
    char16_t bad = 0;
    EXPECT_TRUE(jet::canKeyText(u"Łódź Příliš žluťoučký kůň ğüşöç", jet::SortOrder::GeneralLegacy, bad));
}

// Alphabets come out in their order, capital and small letters alike, accents only breaking ties.
TEST(WriteIndexKey, OtherScriptsSortAsTheirAlphabetsAndIgnoreCase)
{
    const std::u16string_view alphabets[] = {
        u"αβγδεζηθικλμνξοπρστυφχψω",
        u"абвгдеёжзийклмнопрстуфхцчшщъыьэюя",
        u"אבגדהוזחטיכלמנסעפצקרשת",
        u"աբգդեզէըթժիլխծկհձղճմյնշոչպջռսվտրցւփքօֆ",
        u"あいうえおかきくけこさしすせそたちつてとなにぬねの",
        u"가나다라마바사아자차카타파하",
    };
    for (std::u16string_view a : alphabets) {
        for (std::size_t i = 1; i < a.size(); ++i) {
            const std::u16string prev(1, a[i - 1]), cur(1, a[i]);
            EXPECT_LT(textKey(prev), textKey(cur)) << jet::utf16ToUtf8(prev) << " " << jet::utf16ToUtf8(cur);
        }
    }
    EXPECT_EQ(textKey(u"Πελάτες"), textKey(u"ΠΕΛΆΤΕΣ"));
    EXPECT_EQ(textKey(u"Клиенты"), textKey(u"КЛИЕНТЫ"));
    EXPECT_EQ(textKey(u"Ärzte Łódź"), textKey(u"ärzte łÓDŹ"));
    for (jet::SortOrder o : {jet::SortOrder::General, jet::SortOrder::GeneralLegacy}) {
        EXPECT_EQ(textKey(u"Łódź", o), textKey(u"ŁÓDŹ", o));
        EXPECT_LT(textKey(u"Lodz", o), textKey(u"Łodz", o));
        EXPECT_LT(textKey(u"Łodz", o), textKey(u"Lodzia", o));
    }
    EXPECT_NE(textKey(u"Πελατες"), textKey(u"Πελάτες"));
    // A dash, like '-', keeps its place in the hidden part: "Sales – 2024" sorts as "Sales  2024" but stays
    // another name.
    EXPECT_NE(textKey(u"Sales – 2024"), textKey(u"Sales  2024"));
    EXPECT_NE(textKey(u"Sales – 2024"), textKey(u"Sales - 2024"));
    EXPECT_LT(textKey(u"Sales – 2024"), textKey(u"Sales 2025"));
    EXPECT_LT(textKey(u"Πελατες"), textKey(u"Πελάτες"));
    EXPECT_LT(textKey(u"Πελάτες"), textKey(u"Πελατης"));
    // Й and Ї are letters of their own between И/І and the next letter, not accented forms.
    EXPECT_LT(textKey(u"Иz"), textKey(u"Йa"));
    EXPECT_LT(textKey(u"Йz"), textKey(u"Ка"));
    EXPECT_LT(textKey(u"Іz"), textKey(u"Їa"));
    // Kana: hiragana and katakana are the same letters; small kana and voicing are variants of a letter
    // that only break ties between otherwise equal words.
    EXPECT_EQ(textKey(u"てすと"), textKey(u"テスト"));
    EXPECT_NE(textKey(u"ッカ"), textKey(u"ツカ"));
    EXPECT_LT(textKey(u"ッカ"), textKey(u"ツキ"));
    EXPECT_LT(textKey(u"ツカ"), textKey(u"ヅカ"));
    EXPECT_LT(textKey(u"ヅカ"), textKey(u"ツキ"));
    EXPECT_LT(textKey(u"かか"), textKey(u"がか"));
    EXPECT_LT(textKey(u"がか"), textKey(u"かき"));
    // Ideographs in the order of their code points; digits of other scripts sort with the ASCII ones.
    EXPECT_LT(textKey(u"一"), textKey(u"丁"));
    EXPECT_LT(textKey(u"丁"), textKey(u"龥"));
    EXPECT_LT(textKey(u"Table1"), textKey(u"Table\u0662"));
    EXPECT_LT(textKey(u"Table\u0662"), textKey(u"Table3"));
    // Descending keys of other scripts are the ascending bytes inverted, as for Latin-1.
    for (std::u16string_view s : {u"顧客ッ", u"Πελάτες-1"}) {
        const std::vector<std::uint8_t> asc = textKey(s);
        std::vector<std::uint8_t> desc;
        jet::appendTextKey(desc, s, jet::SortOrder::General, false);
        ASSERT_EQ(desc.size(), asc.size() + 1);
        for (std::size_t i = 0; i < asc.size(); ++i)
            EXPECT_EQ(desc[i], static_cast<std::uint8_t>(~asc[i]));
    }
}

TEST(WriteIndexKey, NumbersSortAsTheirValues)
{
    const std::int32_t values[] = {INT32_MIN, -70000, -1, 0, 1, 2, 255, 256, 0x0F000001, INT32_MAX};
    std::vector<std::vector<std::uint8_t>> keys;
    for (std::int32_t v : values) {
        std::vector<std::uint8_t> k;
        jet::appendLongKey(k, v);
        ASSERT_EQ(k.size(), 5u);
        EXPECT_EQ(k[0], 0x7F);
        keys.push_back(k);
    }
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
    // Doubles and dates, negative ones included, through the generic column key.
    const double ds[] = {-1e300, -2.5, -0.0, 0.0, 1e-300, 3.25, 45322.5};
    std::vector<std::vector<std::uint8_t>> dk;
    for (double d : ds) {
        jet::Cell c;
        c.null = false;
        c.bytes.resize(8);
        std::memcpy(c.bytes.data(), &d, 8);
        std::vector<std::uint8_t> k;
        jet::appendColumnKey(k, jet::sql::ColumnType::Double, c, jet::SortOrder::General, true);
        dk.push_back(k);
    }
    EXPECT_TRUE(std::is_sorted(dk.begin(), dk.end()));
    jet::Cell null;
    std::vector<std::uint8_t> nk;
    jet::appendColumnKey(nk, jet::sql::ColumnType::Long, null, jet::SortOrder::General, true);
    EXPECT_EQ(nk, std::vector<std::uint8_t>{0x00});
}

}  // namespace
