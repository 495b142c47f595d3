// One gzip member, whole, or refused - by every decoder alike. A table of
// members written bit by bit (each deflate block type, codes at the edge of
// what zlib's inflate allows and just past it, every header field, bytes
// after the member, cuts) goes through the zlib and the libdeflate decoder
// of the buffer codec and through the streaming decoder in odd chunks; each
// must give the verdict the table states and, when it accepts, the bytes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "codec/GzCodec.h"
#include "codec/GzStream.h"

#if CF_TEST_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace {

using Bytes = std::vector<unsigned char>;

// ---- Writing deflate by hand -------------------------------------------------

class BitWriter {
  public:
    // `count` bits of `value`, lowest first (header fields, extra bits).
    void Bits(std::uint32_t value, int count) {
        for (int i = 0; i < count; ++i)
            Bit((value >> i) & 1);
    }
    // A Huffman code of `length` bits, highest first.
    void Code(std::uint32_t code, int length) {
        for (int i = length - 1; i >= 0; --i)
            Bit((code >> i) & 1);
    }
    void Align() {
        while (used_ != 0)
            Bit(0);
    }
    void Byte(unsigned char b) { Bits(b, 8); }
    Bytes Take() {
        Align();
        return std::move(bytes_);
    }

  private:
    void Bit(std::uint32_t b) {
        if (used_ == 0)
            bytes_.push_back(0);
        bytes_.back() = static_cast<unsigned char>(bytes_.back() | b << used_);
        used_ = (used_ + 1) % 8;
    }
    Bytes bytes_;
    int used_ = 0;
};

struct Huffman {
    std::vector<std::uint32_t> code;
    std::vector<int> length;
    void Put(BitWriter& w, unsigned symbol) const { w.Code(code.at(symbol), length.at(symbol)); }
};

// The canonical code of `lengths`, as RFC 1951 assigns it.
Huffman Canonical(const std::vector<int>& lengths) {
    int count[16] = {};
    for (int l : lengths)
        if (l)
            ++count[l];
    std::uint32_t next[16] = {};
    for (int bits = 1; bits < 16; ++bits)
        next[bits] = (next[bits - 1] + static_cast<std::uint32_t>(count[bits - 1])) << 1;
    Huffman h{std::vector<std::uint32_t>(lengths.size()), lengths};
    for (std::size_t s = 0; s < lengths.size(); ++s)
        if (lengths[s])
            h.code[s] = next[lengths[s]]++;
    return h;
}

Huffman Fixed() {
    std::vector<int> lengths(288);
    for (int s = 0; s < 288; ++s)
        lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    return Canonical(lengths);
}
const Huffman kFixed = Fixed();
const Huffman kFixedDistance = Canonical(std::vector<int>(32, 5));

// A complete literal/length code over all 286 symbols (8 and 9 bits) and a
// complete distance code over four symbols (2 bits).
std::vector<int> FullLiterals(int count = 286) {
    std::vector<int> l(static_cast<std::size_t>(count), 0);
    for (int s = 0; s < 286 && s < count; ++s)
        l[static_cast<std::size_t>(s)] = s < 226 ? 8 : 9;
    return l;
}
const std::vector<int> kFourDistances = {2, 2, 2, 2};

// One code-length code symbol with its extra bits.
struct LengthItem {
    unsigned symbol;
    unsigned extra = 0;
};

// Lengths written one by one (no repeats).
std::vector<LengthItem> Plain(const std::vector<int>& literals, const std::vector<int>& distances) {
    std::vector<LengthItem> items;
    for (int l : literals)
        items.push_back({static_cast<unsigned>(l)});
    for (int l : distances)
        items.push_back({static_cast<unsigned>(l)});
    return items;
}

// A dynamic block header declaring `literalCount` and `distanceCount` codes
// whose lengths are `items`. The code-length code is complete: 0-12 have 4
// bits, 13-18 have 5.
void DynamicHeader(BitWriter& w, bool last, unsigned literalCount, unsigned distanceCount,
                   const std::vector<LengthItem>& items) {
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    std::vector<int> codeLengths(19);
    for (int s = 0; s < 19; ++s)
        codeLengths[static_cast<std::size_t>(s)] = s <= 12 ? 4 : 5;
    const Huffman lengthCode = Canonical(codeLengths);
    w.Bits(last, 1);
    w.Bits(2, 2);
    w.Bits(literalCount - 257, 5);
    w.Bits(distanceCount - 1, 5);
    w.Bits(19 - 4, 4);
    for (int s : order)
        w.Bits(static_cast<std::uint32_t>(codeLengths[static_cast<std::size_t>(s)]), 3);
    for (const LengthItem& item : items) {
        lengthCode.Put(w, item.symbol);
        if (item.symbol == 16)
            w.Bits(item.extra, 2);
        if (item.symbol == 17)
            w.Bits(item.extra, 3);
        if (item.symbol == 18)
            w.Bits(item.extra, 7);
    }
}

void DynamicHeader(BitWriter& w, bool last, const std::vector<int>& literals,
                   const std::vector<int>& distances) {
    DynamicHeader(w, last, static_cast<unsigned>(literals.size()),
                  static_cast<unsigned>(distances.size()), Plain(literals, distances));
}

// ---- Members -------------------------------------------------------------------

void Put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

Bytes Member(const Bytes& body, const Bytes& content, Bytes header = {}) {
    if (header.empty())
        header.assign(std::begin(codec::GzHeader), std::end(codec::GzHeader));
    Bytes m = header;
    m.insert(m.end(), body.begin(), body.end());
    Put32(m,
          static_cast<std::uint32_t>(crc32(0, content.data(), static_cast<uInt>(content.size()))));
    Put32(m, static_cast<std::uint32_t>(content.size()));
    return m;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes Compressed(const Bytes& content) {
    std::uint32_t n = 0;
    codec::GzBuffer out =
        codec::GzCompressBuffer(content.data(), static_cast<std::uint32_t>(content.size()), &n);
    EXPECT_TRUE(out);
    return out ? Bytes(out.get(), out.get() + n) : Bytes{};
}

Bytes Content(std::size_t n, unsigned seed) {
    Bytes out(n);
    unsigned x = seed;
    for (auto& c : out) {
        x = x * 1103515245u + 12345u;
        c = (x >> 20) % 7 == 0 ? static_cast<unsigned char>(x >> 8)
                               : static_cast<unsigned char>('a' + (x >> 24) % 4);
    }
    return out;
}

// "ab", then a copy of length 3 at distance 2: "ababa".
Bytes FixedAbaba() {
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(1, 2);
    kFixed.Put(w, 'a');
    kFixed.Put(w, 'b');
    kFixed.Put(w, 257);        // length 3
    kFixedDistance.Put(w, 1);  // distance 2
    kFixed.Put(w, 256);
    return w.Take();
}

// A stored block, not the last, holding `bytes`.
void Stored(BitWriter& w, const Bytes& bytes, bool last) {
    w.Bits(last, 1);
    w.Bits(0, 2);
    w.Align();
    w.Bits(static_cast<std::uint32_t>(bytes.size()), 16);
    w.Bits(static_cast<std::uint32_t>(~bytes.size()) & 0xFFFF, 16);
    for (unsigned char b : bytes)
        w.Byte(b);
}

// ---- The decoders ----------------------------------------------------------------

class ChunkInput final : public codec::GzInput {
  public:
    ChunkInput(const Bytes& b, std::size_t chunk) : p_(b.data()), left_(b.size()), chunk_(chunk) {}
    std::ptrdiff_t Read(unsigned char* buffer, std::size_t capacity) override {
        const std::size_t n = std::min({capacity, left_, chunk_});
        std::copy(p_, p_ + n, buffer);
        p_ += n;
        left_ -= n;
        return static_cast<std::ptrdiff_t>(n);
    }

  private:
    const unsigned char* p_;
    std::size_t left_, chunk_;
};

class Collect final : public codec::GzOutput {
  public:
    bool Write(const unsigned char* data, std::size_t length) override {
        bytes.insert(bytes.end(), data, data + length);
        return true;
    }
    Bytes bytes;
};

// Every decoder on `input`: each must accept exactly when `accept` says,
// with `expect` as the bytes. Returns the number of decoders that ran.
int ExpectVerdict(const Bytes& input, bool accept, const Bytes& expect,
                  std::uint64_t limit = codec::GzNoLimit) {
    int ran = 0;
    for (codec::GzDecoder decoder : {codec::GzDecoder::Zlib, codec::GzDecoder::Libdeflate}) {
        if (!codec::GzHasDecoder(decoder))
            continue;
        SCOPED_TRACE(decoder == codec::GzDecoder::Zlib ? "zlib" : "libdeflate");
        std::uint32_t length = 0xDEADBEEF;
        codec::GzError error;
        codec::GzBuffer out =
            codec::GzDecompressWith(decoder, input.data(), static_cast<std::uint32_t>(input.size()),
                                    &length, limit, &error);
        EXPECT_EQ(out != nullptr, accept) << error.reason;
        if (out && accept) {
            EXPECT_EQ(Bytes(out.get(), out.get() + length), expect);
        }
        if (!out) {
            EXPECT_EQ(length, 0xDEADBEEF);
            EXPECT_NE(error.failure, codec::GzFailure::None);
        }
        ++ran;
    }
    // Odd chunks move the member's end across the streaming decoder's reads.
    for (std::size_t chunk : {std::size_t{1} << 20, std::size_t{7}, std::size_t{1}}) {
        if (chunk == 1 && input.size() > 4096)
            break;
        SCOPED_TRACE("streaming in chunks of " + std::to_string(chunk));
        ChunkInput in(input, chunk);
        Collect out;
        std::string reason;
        std::uint64_t decoded = 0;
        const bool ok =
            codec::GzInflateMember(in, out, limit, &decoded, reason) == codec::GzInflateStatus::Ok;
        EXPECT_EQ(ok, accept) << reason;
        if (ok && accept) {
            EXPECT_EQ(out.bytes, expect);
        }
        EXPECT_LE(decoded, limit);
        ++ran;
    }
    return ran;
}

// Whether libdeflate alone decodes the deflate data of `body` to `content`:
// for the cases that only zlib's rules refuse, this shows that the rule,
// not a damaged trailer, is what refuses them.
bool LibdeflateAloneAccepts(const Bytes& body, const Bytes& content) {
#if CF_TEST_LIBDEFLATE
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    Bytes out(content.size() + 1);
    std::size_t used = 0, produced = 0;
    const bool ok =
        libdeflate_deflate_decompress_ex(d, body.data(), body.size(), out.data(), out.size(), &used,
                                         &produced) == LIBDEFLATE_SUCCESS &&
        used == body.size() && Bytes(out.begin(), out.begin() + produced) == content;
    libdeflate_free_decompressor(d);
    return ok;
#else
    (void)body;
    (void)content;
    return true;
#endif
}

struct Case {
    std::string what;
    Bytes member;
    bool accept;
    Bytes content;    // the bytes of an accepted member; what the trailer covers otherwise
    Bytes body = {};  // set for the constructions only zlib's rules refuse
};

// ---- Deflate data ----------------------------------------------------------------

std::vector<Case> DeflateCases() {
    std::vector<Case> cases;
    auto add = [&](std::string what, const Bytes& body, bool accept, const Bytes& content,
                   bool zlibRule = false) {
        cases.push_back(
            {std::move(what), Member(body, content), accept, content, zlibRule ? body : Bytes{}});
    };
    const Bytes abab = Text("ababa");
    add("fixed block with a copy", FixedAbaba(), true, abab);
    {
        BitWriter w;
        Stored(w, Text("stored "), false);
        Stored(w, {}, false);
        w.Bits(1, 1);
        w.Bits(1, 2);
        for (char c : std::string("fixed"))
            kFixed.Put(w, static_cast<unsigned char>(c));
        kFixed.Put(w, 256);
        add("stored, empty stored, fixed", w.Take(), true, Text("stored fixed"));
    }
    // Fixed-code symbols that have a code but no meaning. libdeflate reads
    // 286 and 287 as a length of 258, 30 and 31 as distances past 24576.
    for (unsigned symbol : {285u, 286u, 287u}) {
        BitWriter w;
        w.Bits(1, 1);
        w.Bits(1, 2);
        kFixed.Put(w, 'a');
        kFixed.Put(w, symbol);
        kFixedDistance.Put(w, 0);
        kFixed.Put(w, 256);
        add("fixed length symbol " + std::to_string(symbol), w.Take(), symbol == 285,
            Bytes(259, 'a'), symbol != 285);
    }
    for (unsigned symbol : {29u, 30u, 31u}) {
        BitWriter w;
        Stored(w, Bytes(40000, 'x'), false);
        w.Bits(1, 1);
        w.Bits(1, 2);
        kFixed.Put(w, 257);
        kFixedDistance.Put(w, symbol);
        w.Bits(0, 13);
        kFixed.Put(w, 256);
        add("fixed distance symbol " + std::to_string(symbol), w.Take(), symbol == 29,
            Bytes(40003, 'x'), symbol != 29);
    }
    // Dynamic blocks.
    {
        BitWriter w;
        DynamicHeader(w, true, FullLiterals(), kFourDistances);
        const Huffman lit = Canonical(FullLiterals());
        const Huffman dist = Canonical(kFourDistances);
        lit.Put(w, 'a');
        lit.Put(w, 'b');
        lit.Put(w, 257);
        dist.Put(w, 1);
        lit.Put(w, 256);
        add("dynamic block, complete codes", w.Take(), true, abab);
    }
    for (unsigned literals : {287u, 288u}) {
        BitWriter w;
        DynamicHeader(w, true, FullLiterals(static_cast<int>(literals)), kFourDistances);
        Canonical(FullLiterals()).Put(w, 'q');
        Canonical(FullLiterals()).Put(w, 256);
        add(std::to_string(literals) + " literal/length codes declared", w.Take(), false, Text("q"),
            true);
    }
    for (unsigned distances : {30u, 31u, 32u}) {
        std::vector<int> d(distances, 0);
        d[0] = d[1] = d[2] = d[3] = 2;
        BitWriter w;
        DynamicHeader(w, true, FullLiterals(), d);
        Canonical(FullLiterals()).Put(w, 'q');
        Canonical(FullLiterals()).Put(w, 256);
        add(std::to_string(distances) + " distance codes declared", w.Take(), distances == 30,
            Text("q"), distances != 30);
    }
    // Repeats of code lengths: up to the last declared code, or `past` it.
    for (unsigned repeat : {16u, 17u, 18u})
        for (unsigned past : {0u, 3u}) {
            std::vector<LengthItem> items = Plain(FullLiterals(), {2});
            unsigned declared = 4;
            if (repeat == 16) {
                items.push_back({16, past});  // 3 more 2s, and `past`
            } else {
                items.insert(items.end(), 3, LengthItem{2});
                declared = 30;  // four 2s and 26 zeros
                if (repeat == 17)
                    items.insert(items.end(), {{17, 7}, {17, 7}, {17, 3 + past}});
                else
                    items.push_back({18, 26 - 11 + past});
            }
            BitWriter w;
            DynamicHeader(w, true, 286, declared, items);
            Canonical(FullLiterals()).Put(w, 'r');
            Canonical(FullLiterals()).Put(w, 256);
            add("code lengths repeated with " + std::to_string(repeat) +
                    (past ? " past the last code" : " to the last code"),
                w.Take(), past == 0, Text("r"), past != 0);
        }
    // A code of one symbol: its one-bit code is 0; 1 names nothing for zlib.
    for (std::uint32_t bit : {0u, 1u}) {
        std::vector<int> lit(257, 0);
        lit[256] = 1;
        BitWriter w;
        DynamicHeader(w, true, lit, {0});
        w.Bits(bit, 1);
        add("one literal/length code, bit " + std::to_string(bit), w.Take(), bit == 0, {},
            bit == 1);
    }
    for (std::uint32_t bit : {0u, 1u}) {
        BitWriter w;
        DynamicHeader(w, true, FullLiterals(), {1});
        const Huffman lit = Canonical(FullLiterals());
        lit.Put(w, 'z');
        lit.Put(w, 258);  // length 4
        w.Bits(bit, 1);   // distance 1
        lit.Put(w, 256);
        add("one distance code, bit " + std::to_string(bit), w.Take(), bit == 0, Bytes(5, 'z'),
            bit == 1);
    }
    {
        // No distance code: fine for literals, refused once a length needs one.
        BitWriter w;
        DynamicHeader(w, false, FullLiterals(), {0});
        const Huffman lit = Canonical(FullLiterals());
        lit.Put(w, 'n');
        lit.Put(w, 256);
        BitWriter w2 = w;
        w.Bits(1, 1);
        w.Bits(1, 2);
        kFixed.Put(w, 256);
        add("no distance code, literals only", w.Take(), true, Text("n"));
        DynamicHeader(w2, true, FullLiterals(), {0});
        lit.Put(w2, 257);
        w2.Bits(0, 1);
        lit.Put(w2, 256);
        add("no distance code, then a length", w2.Take(), false, Text("nnnn"), true);
    }
    {
        // The same kind of fault after a sound first block, so that the
        // check walks a block that is not the last.
        BitWriter w;
        DynamicHeader(w, false, FullLiterals(), kFourDistances);
        const Huffman lit = Canonical(FullLiterals());
        for (char c : std::string("first "))
            lit.Put(w, static_cast<unsigned char>(c));
        lit.Put(w, 256);
        w.Bits(1, 1);
        w.Bits(1, 2);
        kFixed.Put(w, 'x');
        kFixed.Put(w, 286);
        kFixedDistance.Put(w, 0);
        kFixed.Put(w, 256);
        Bytes content = Text("first x");
        content.insert(content.end(), 258, 'x');
        add("symbol 286 in the block after a dynamic one", w.Take(), false, content, true);
    }
    {
        // Refused by both for their own reasons.
        std::vector<int> lit = FullLiterals();
        lit[256] = 0;
        lit[255] = 0;
        BitWriter w;
        DynamicHeader(w, true, lit, kFourDistances);
        add("no end-of-block code", w.Take(), false, {});
        BitWriter over;
        std::vector<int> over9 = FullLiterals();
        over9[0] = 7;
        DynamicHeader(over, true, over9, kFourDistances);
        add("over-subscribed literal/length code", over.Take(), false, {});
        BitWriter type3;
        type3.Bits(1, 1);
        type3.Bits(3, 2);
        add("block type 3", type3.Take(), false, {});
        BitWriter nlen;
        nlen.Bits(1, 1);
        nlen.Bits(0, 2);
        nlen.Align();
        nlen.Bits(1, 16);
        nlen.Bits(0, 16);
        nlen.Byte('s');
        add("stored length and its complement disagree", nlen.Take(), false, Text("s"));
        BitWriter far;
        far.Bits(1, 1);
        far.Bits(1, 2);
        kFixed.Put(far, 'f');
        kFixed.Put(far, 257);
        kFixedDistance.Put(far, 1);  // distance 2, one byte written
        kFixed.Put(far, 256);
        add("distance before the start", far.Take(), false, Text("ffff"));
    }
    return cases;
}

// ---- Headers, trailers, what follows ---------------------------------------------

std::vector<Case> MemberCases() {
    std::vector<Case> cases;
    const Bytes abab = Text("ababa");
    const Bytes body = FixedAbaba();
    auto header = [](unsigned char flags, const Bytes& fields) {
        Bytes h(std::begin(codec::GzHeader), std::end(codec::GzHeader));
        h[3] = flags;
        h.insert(h.end(), fields.begin(), fields.end());
        return h;
    };
    auto withCrc = [](Bytes h, int delta) {
        const auto crc =
            static_cast<std::uint32_t>(crc32(0, h.data(), static_cast<uInt>(h.size())));
        h.push_back(static_cast<unsigned char>((crc + static_cast<std::uint32_t>(delta)) & 0xFF));
        h.push_back(static_cast<unsigned char>((crc >> 8) & 0xFF));
        return h;
    };
    const Bytes fields = {3, 0, 'x', 'y', 'z', 'n', 'a', 'm', 'e', 0, 'c', 0};
    cases.push_back(
        {"extra, name and comment", Member(body, abab, header(0x1C, fields)), true, abab});
    cases.push_back(
        {"header CRC-16 right", Member(body, abab, withCrc(header(0x1E, fields), 0)), true, abab});
    cases.push_back(
        {"header CRC-16 wrong", Member(body, abab, withCrc(header(0x1E, fields), 1)), false, abab});
    cases.push_back({"text flag", Member(body, abab, header(0x01, {})), true, abab});
    for (unsigned char reserved : {0x20, 0x40, 0x80})
        cases.push_back({"reserved flag " + std::to_string(reserved),
                         Member(body, abab, header(reserved, {})), false, abab});
    Bytes method = Member(body, abab);
    method[2] = 7;
    cases.push_back({"method 7", method, false, abab});
    for (std::size_t at : {std::size_t{8}, std::size_t{4}, std::size_t{1}}) {
        Bytes bad = Member(body, abab);
        bad[bad.size() - at] ^= 1;
        cases.push_back({"trailer byte " + std::to_string(8 - at) + " off", bad, false, abab});
    }

    const Bytes a = Content(500, 1), b = Content(700, 2);
    const Bytes ga = Compressed(a), gb = Compressed(b), none = Compressed({});
    cases.push_back({"our member", ga, true, a});
    cases.push_back({"our empty member", none, true, {}});
    auto joined = [](Bytes x, const Bytes& y) {
        x.insert(x.end(), y.begin(), y.end());
        return x;
    };
    cases.push_back({"two members", joined(ga, gb), false, a});
    for (unsigned char extra : {0x00, 0x1F, 0x41}) {
        Bytes trailing = ga;
        trailing.push_back(extra);
        cases.push_back({"member and byte " + std::to_string(extra), trailing, false, a});
    }
    // Bytes after a member that happen to end in a trailer matching all
    // that was decoded are bytes after a member all the same.
    cases.push_back({"empty member, zero bytes", joined(none, Bytes(8, 0)), false, {}});
    cases.push_back(
        {"member, its trailer again", joined(ga, Bytes(ga.end() - 8, ga.end())), false, a});
    cases.push_back({"empty member, then a member", joined(none, gb), false, b});
    // Input without the magic is read as it is.
    for (const Bytes& plain : {Bytes{}, Bytes{0x1F}, Bytes{0x1F, 0x8C, 8, 0}, Text("plain text")})
        cases.push_back(
            {"no magic, " + std::to_string(plain.size()) + " bytes", plain, true, plain});
    return cases;
}

TEST(GzMemberTest, EveryDecoderGivesTheSameVerdict) {
    std::vector<Case> cases = DeflateCases();
    const std::vector<Case> more = MemberCases();
    cases.insert(cases.end(), more.begin(), more.end());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_GE(ExpectVerdict(c.member, c.accept, c.content), 3);
        if (!c.body.empty()) {
            EXPECT_TRUE(LibdeflateAloneAccepts(c.body, c.content))
                << "a case for zlib's rules that libdeflate refuses by itself";
        }
    }
}

TEST(GzMemberTest, EveryCutIsRefused) {
    const Bytes small = Content(3000, 5);
    const Bytes big = Content(300000, 6);  // several deflate blocks
    for (const Bytes* content : {&small, &big}) {
        const Bytes gz = Compressed(*content);
        // Cuts of one byte hold no magic and read as they are.
        for (std::size_t cut = 0; cut < gz.size(); cut += content == &big ? 1021 : 1) {
            SCOPED_TRACE(cut);
            const Bytes part(gz.begin(), gz.begin() + static_cast<std::ptrdiff_t>(cut));
            ExpectVerdict(part, cut < 2, part);
        }
        ExpectVerdict(gz, true, *content);
    }
}

TEST(GzMemberTest, LimitIsTheLargestAcceptedSize) {
    const Bytes content = Content(10000, 4);
    const Bytes gz = Compressed(content);
    ExpectVerdict(gz, true, content, 10000);
    ExpectVerdict(gz, false, content, 9999);
    const Bytes text = Text("plain");
    ExpectVerdict(text, true, text, 5);
    ExpectVerdict(text, false, text, 4);
    ExpectVerdict({}, true, {}, 0);
}

}  // namespace
