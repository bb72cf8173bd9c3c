// The writer's public face: opening and closing a file, batches, statements and the questions it answers.
#include "writer_impl.h"

namespace jet {

std::unique_ptr<Writer> Writer::open(const std::string& path, WriterOptions options)
{
    auto wtr = std::make_unique<Writer>(Token{});
    auto impl = std::make_unique<WriterImpl>();
    impl->path = path;
    std::unique_ptr<FileIo> io = options.io ? std::move(options.io) : openPosixFile(path);
    if (options.takeLock)
        impl->lock = WriteLock::acquire(path, io->fd());
    std::uint8_t head[0x100] = {};
    if (io->size() < 3 * 2048)
        throwError(err::Corrupt, "Unrecognized database format '" + path + "'.");
    io->read(0, head, sizeof head);
    if (std::memcmp(head + 4, "Standard Jet DB", 15) != 0 && std::memcmp(head + 4, "Standard ACE DB", 15) != 0)
        throwError(err::Corrupt, "Unrecognized database format '" + path + "'.");
    impl->version = head[0x14];
    if (impl->version > 6)
        throwError(err::Unsupported, "'" + path + "' has an unknown file version (" +
                                         std::to_string(impl->version) + ").");
    const bool jet3 = impl->version == 0;  // Access 97: 2 KiB pages, text in the file's code page
    // Unmask the header fields (RC4 with a fixed key).
    const std::uint8_t mkey[4] = {0xC7, 0xDA, 0x39, 0x6B};
    rc4Apply(mkey, 4, head + 0x18, jet3 ? 126 : 128);
    const std::uint32_t dbKey = rd32(head + 0x3E);
    const std::uint16_t lcid = rd16(head + (jet3 ? 0x3A : 0x6E));
    if (jet3) {
        // Index keys of text are known for the General order over windows-1252 only.
        const std::uint16_t cp = rd16(head + 0x3C);
        if ((lcid != 0x0409 && lcid != 0) || (cp != 1252 && cp != 0))
            throwError(err::Unsupported, "'" + path + "' is an Access 97 database with sort order " +
                                             std::to_string(lcid) + " and code page " + std::to_string(cp) +
                                             "; this engine writes Access 97 files only in the General sort order "
                                             "(1033) with code page 1252.");
        if (!options.password.empty() || rd16(head + 0x42) != 0) {
            // A database password on an Access 97 file: 20 bytes at 0x42, plain code-page text.
            std::string stored;
            for (int i = 0; i < 20 && head[0x42 + i] != 0; ++i)
                stored.push_back(static_cast<char>(head[0x42 + i]));
            if (!stored.empty() && utf16ToUtf8(codePageText(1252, std::span<const std::uint8_t>(
                                       reinterpret_cast<const std::uint8_t*>(stored.data()), stored.size()))) !=
                                       options.password)
                throwError(3031, "Not a valid password.");
        }
    }
    // Encrypted .accdb: pages are decrypted on load and re-encrypted with the file's own keys
    // (jet/codec.h; a wrong or missing password is 3031).
    std::unique_ptr<PageCodec> codec;
    if (impl->version >= 2 && dbKey != 0) {
        std::vector<std::uint8_t> page0(kPage);
        io->read(0, page0.data(), kPage);
        rc4Apply(mkey, 4, page0.data() + 0x18, 128);
        codec = makePageCodecForVersion(page0, impl->version, options.password, path);
    }
    if (lcid != 0x0409 && lcid != 0)
        throwError(err::Unsupported, "'" + path + "' was created with sort order " + std::to_string(lcid) +
                                         "; this engine writes only databases with the sort orders \"General\" and "
                                         "\"General - Legacy\" (1033).");
    {
        // Jet 4 password: 40 bytes at 0x42, XOR-ed with the creation date's integer part. (.accdb passwords
        // are encryption and are checked by the page codec.)
        if (impl->version == 1) {
            double created;
            std::memcpy(&created, head + 0x72, 8);
            const std::uint32_t pat = static_cast<std::uint32_t>(static_cast<std::int32_t>(created));
            std::u16string pw;
            for (int i = 0; i < 20; ++i) {
                const std::uint8_t* q = head + 0x42 + 2 * i;
                const std::uint8_t lo = q[0] ^ static_cast<std::uint8_t>(pat >> (8 * ((2 * i) % 4)));
                const std::uint8_t hi = q[1] ^ static_cast<std::uint8_t>(pat >> (8 * ((2 * i + 1) % 4)));
                const char16_t ch = static_cast<char16_t>(lo | hi << 8);
                if (ch == 0)
                    break;
                pw.push_back(ch);
            }
            if (!pw.empty() && pw != utf8ToUtf16(options.password))
                throwError(3031, "Not a valid password.");
        }
    }
    impl->cache = std::make_unique<PageCache>(std::move(io), jet3 ? 2048 : kPage, path,
                                              impl->version <= 1 ? dbKey : 0);
    if (codec)
        impl->cache->setCodec(std::move(codec));
    if (impl->cache->page(2)[0] != 0x02)
        throwError(err::Corrupt, "Unrecognized database format '" + path + "': page 2 is not the catalogue.");
    impl->loadCatalog();
    wtr->impl_ = std::move(impl);
    return wtr;
}

Writer::Writer(Token) {}

Writer::~Writer()
{
    try {
        close();
    } catch (...) {
    }
}

void Writer::close()
{
    if (!impl_ || impl_->closed)
        return;
    impl_->closed = true;
    if (impl_->cache->inStatement())
        impl_->cache->rollback();
    // An open batch is written: its statements were reported done.
    std::exception_ptr failure;
    try {
        impl_->cache->commitGroup();
    } catch (...) {
        failure = std::current_exception();
    }
    impl_->cache->sync();
    impl_->lock.reset();
    if (failure)
        std::rethrow_exception(failure);
}

void Writer::beginBatch()
{
    if (impl_->closed)
        throwError(err::ReadOnly, "The database '" + impl_->path + "' has been closed.");
    impl_->cache->beginGroup();
}

void Writer::commitBatch()
{
    PageCache& pc = *impl_->cache;
    if (!pc.inGroup())
        return;
    try {
        pc.commitGroup();
    } catch (...) {
        // The file and the pages are as before the batch: cached table state is read again.
        impl_->tables.clear();
        pc.begin();
        try {
            impl_->loadCatalog();
        } catch (...) {
        }
        pc.rollback();
        throw;
    }
}

PageCache& Writer::pages() { return *impl_->cache; }
bool Writer::inBatch() const { return impl_->cache->inGroup(); }
std::size_t Writer::batchPages() const { return impl_->cache->groupPages(); }
const std::string& Writer::path() const { return impl_->path; }

void Writer::execute(std::string_view sqlText)
{
    run(sql::parse(sqlText));
}

namespace {

// Runs `body` as one statement: its pages reach the file together, or, when it fails, the pages and the
// cached table state are as before it.
void inStatement(WriterImpl& w, const std::function<void()>& body)
{
    PageCache& pc = *w.cache;
    pc.begin();
    try {
        body();
        pc.commit();
    } catch (...) {
        if (pc.inStatement())
            pc.rollback();
        // Cached table state (row counts, current pages, catalogue) is read again from the restored pages.
        w.tables.clear();
        pc.begin();
        try {
            w.loadCatalog();
        } catch (...) {
        }
        pc.rollback();
        throw;
    }
}

}  // namespace

void Writer::run(const sql::Statement& st)
{
    if (impl_->closed)
        throwError(err::ReadOnly, "The database '" + impl_->path + "' has been closed.");
    if (const auto* sa = std::get_if<sql::SelectAll>(&st)) {
        impl_->userTable(sa->table, err::CannotFindInput);
        return;
    }
    if (!std::holds_alternative<sql::Insert>(st))
        impl_->insertChecks.clear();  // a change of schema: what INSERT checks is read again
    inStatement(*impl_, [&] {
        std::visit(
            [&](const auto& s) {
                using T = std::decay_t<decltype(s)>;
                if constexpr (std::is_same_v<T, sql::CreateTable>) {
                    impl_->createTable(s);
                    impl_->addTableConstraints(s);
                } else if constexpr (std::is_same_v<T, sql::CreateIndex>)
                    impl_->createIndex(s);
                else if constexpr (std::is_same_v<T, sql::DropIndex>)
                    impl_->dropIndexByName(s);
                else if constexpr (std::is_same_v<T, sql::Insert>)
                    impl_->insert(s);
                else if constexpr (std::is_same_v<T, sql::DropTable>)
                    impl_->dropTable(s.table);
                else if constexpr (std::is_same_v<T, sql::SelectInto>)
                    impl_->copyTable(s.source, s.target);
                else if constexpr (std::is_same_v<T, sql::AddForeignKey>)
                    impl_->addForeignKey(s);
                else if constexpr (std::is_same_v<T, sql::DropConstraint>)
                    impl_->dropConstraint(s);
                else
                    static_assert(std::is_same_v<T, sql::SelectAll>, "a statement the writer does not run");
            },
            st);
    });
}

namespace {

class ImplRowEditor final : public RowEditor {
public:
    explicit ImplRowEditor(WriterImpl& w) : w_(w) {}
    std::uint32_t tablePage(const std::string& name) override
    {
        const CatalogRow* r = w_.findTable(utf8ToUtf16(name));
        return r && r->type == 1 ? static_cast<std::uint32_t>(r->id) : 0;
    }
    std::uint32_t tablesContainer() override { return static_cast<std::uint32_t>(w_.tablesId); }
    std::uint16_t textCodePage() override
    {
        const Table& catalog = w_.table(2);
        return catalog.jet3 ? catalog.codePage : 0;
    }
    int column(std::uint32_t tdefPage, std::u16string_view name) override
    {
        const Col* c = w_.table(tdefPage).column(std::u16string(name).c_str());
        return c ? c->number : -1;
    }
    int rewrite(std::uint32_t tdefPage, const std::function<bool(std::vector<Cell>&)>& edit) override
    {
        Table& t = w_.table(tdefPage);
        std::vector<std::pair<std::uint32_t, std::vector<Cell>>> changed;
        forEachRow(w_.pc(), t, [&](const RowRef& r) {
            const std::vector<RawCell> raw = decodeRow(w_.pc(), t, r.bytes, true);
            std::vector<Cell> cells(t.maxCols);
            for (const Col& c : t.cols)
                if (c.number < raw.size())
                    cells[c.number] = toCell(c, raw[c.number]);
            if (edit(cells))
                changed.emplace_back(r.page << 8 | r.slot, std::move(cells));
        });
        for (auto& [ptr, cells] : changed) {
            w_.deleteRow(t, ptr);
            w_.insertRow(t, std::move(cells));
        }
        return static_cast<int>(changed.size());
    }
    void requireTableName(const std::string& name, std::uint32_t samePage) override
    {
        const std::u16string n = utf8ToUtf16(name);
        w_.validateName(n, name, "table");
        if (const CatalogRow* r = w_.findTable(n); r && static_cast<std::uint32_t>(r->id) != samePage)
            throwError(err::TableExists, "Table '" + name + "' already exists.");
    }

private:
    WriterImpl& w_;
};

}  // namespace

void Writer::change(const std::function<void(RowEditor&)>& body)
{
    if (impl_->closed)
        throwError(err::ReadOnly, "The database '" + impl_->path + "' has been closed.");
    inStatement(*impl_, [&] {
        ImplRowEditor editor(*impl_);
        body(editor);
        impl_->loadCatalog();
    });
}

void Writer::createTable(const sql::CreateTable& ct) { run(ct); }
void Writer::insert(const sql::Insert& ins) { run(ins); }
void Writer::dropTable(const std::string& name) { run(sql::DropTable{name}); }
void Writer::copyTable(const std::string& source, const std::string& target)
{
    run(sql::SelectInto{target, source});
}

std::vector<std::string> Writer::tableNames()
{
    std::vector<std::string> out;
    for (const CatalogRow& r : impl_->catalog)
        if (r.type == 1 && r.parentId == impl_->tablesId && (r.flags & static_cast<std::int32_t>(0x80000002u)) == 0)
            out.push_back(utf16ToUtf8(r.name));
    return out;
}

bool Writer::hasTable(const std::string& name)
{
    const CatalogRow* r = impl_->findTable(utf8ToUtf16(name));
    return r && r->type == 1;
}

std::vector<WriterColumn> Writer::columns(const std::string& name)
{
    const CatalogRow& cr = impl_->userTable(name, err::CannotFindInput);
    const Table& t = impl_->table(static_cast<std::uint32_t>(cr.id));
    std::vector<const Col*> order;
    for (const Col& c : t.cols)
        order.push_back(&c);
    std::sort(order.begin(), order.end(), [](const Col* a, const Col* b) { return a->number < b->number; });
    std::vector<WriterColumn> out;
    for (const Col* c : order) {
        WriterColumn wc;
        wc.name = utf16ToUtf8(c->name);
        wc.type = static_cast<SqlType>(c->type);
        const ColumnShape s = c->shape();
        wc.size = s.size;
        wc.precision = s.precision;
        wc.scale = s.scale;
        wc.autoNumber = (c->flags & 0x04) != 0;
        out.push_back(wc);
    }
    return out;
}

}  // namespace jet
