#include "lha/Huffman.h"

#include <algorithm>
#include <cassert>
#include <vector>

namespace pictor::lha {

int BuildCodeLengths(std::span<const uint32_t> freq, std::span<uint8_t> lengths, int maxLength) {
    assert(lengths.size() == freq.size());
    std::fill(lengths.begin(), lengths.end(), uint8_t(0));
    const int n = int(freq.size());
    std::vector<int> leaves;
    leaves.reserve(freq.size());
    for (int s = 0; s < n; ++s)
        if (freq[s]) leaves.push_back(s);
    const int m = int(leaves.size());
    if (m < 2) return m;
    std::stable_sort(leaves.begin(), leaves.end(),
                     [&](int a, int b) { return freq[a] < freq[b]; });

    // Two-queue Huffman construction: leaves in weight order, internal nodes are made in
    // non-decreasing weight order, so the two lightest are always at one of the queue heads.
    std::vector<uint64_t> weight(m - 1);
    std::vector<int> parent(2 * m - 1); // leaves 0..m-1, internal nodes m..2m-2
    int nextLeaf = 0, nextNode = 0;
    auto takeLightest = [&](int made) {
        if (nextLeaf < m && (nextNode >= made || freq[leaves[nextLeaf]] <= weight[nextNode])) {
            const int leaf = nextLeaf++;
            return std::pair{leaf, uint64_t(freq[leaves[leaf]])};
        }
        const int node = nextNode++;
        return std::pair{m + node, weight[node]};
    };
    for (int made = 0; made < m - 1; ++made) {
        const auto [a, wa] = takeLightest(made);
        const auto [b, wb] = takeLightest(made);
        weight[made] = wa + wb;
        parent[a] = parent[b] = m + made;
    }
    // Depths from the root (the last node made) down.
    std::vector<int> depth(2 * m - 1, 0);
    for (int v = 2 * m - 3; v >= 0; --v) depth[v] = depth[parent[v]] + 1;

    // Length limit: clamp, then restore Kraft equality. Units are 2^-maxLength.
    const uint32_t full = 1u << maxLength;
    uint32_t kraft = 0;
    for (int i = 0; i < m; ++i) {
        const int len = std::min(depth[i], maxLength);
        lengths[leaves[i]] = uint8_t(len);
        kraft += full >> len;
    }
    // Over-full: lengthen the longest code still below the limit (the cheapest step), the
    // lightest such symbol first. Leaves are in rising weight order.
    while (kraft > full) {
        int pick = -1;
        for (int i = 0; i < m; ++i) {
            const int len = lengths[leaves[i]];
            if (len < maxLength && (pick < 0 || len > lengths[leaves[pick]])) pick = i;
        }
        const int len = lengths[leaves[pick]]++;
        kraft -= full >> (len + 1);
    }
    // Under-full (the clamping may overshoot): shorten the longest code whose gain still fits,
    // the heaviest such symbol first. Every length is a power-of-two share, so this ends at
    // exactly `full`.
    while (kraft < full) {
        int pick = -1;
        for (int i = m - 1; i >= 0; --i) {
            const int len = lengths[leaves[i]];
            if (len > 1 && (full >> len) <= full - kraft &&
                (pick < 0 || len > lengths[leaves[pick]]))
                pick = i;
        }
        assert(pick >= 0);
        const int len = lengths[leaves[pick]]--;
        kraft += full >> len;
    }
    return m;
}

void AssignCanonicalCodes(std::span<const uint8_t> lengths, std::span<uint16_t> codes) {
    assert(codes.size() == lengths.size());
    uint32_t count[kMaxCodeLength + 1] = {};
    for (uint8_t len : lengths) ++count[len];
    count[0] = 0;
    uint32_t next[kMaxCodeLength + 2] = {};
    uint32_t code = 0;
    for (int len = 1; len <= kMaxCodeLength; ++len) {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
    }
    for (size_t s = 0; s < lengths.size(); ++s)
        codes[s] = lengths[s] ? uint16_t(next[lengths[s]]++) : 0;
}

} // namespace pictor::lha
