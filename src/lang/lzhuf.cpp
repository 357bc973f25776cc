#include "lang/lzhuf.h"

namespace purgelet::lzh {

void HuffmanTree::Start() {
    for (int i = 0; i < CharCount; ++i) {
        freq_[i] = 1;
        son_[i] = i + TableSize;
        parent_[i + TableSize] = i;
    }
    for (int i = 0, j = CharCount; j <= Root; i += 2, ++j) {
        freq_[j] = static_cast<std::uint16_t>(freq_[i] + freq_[i + 1]);
        son_[j] = i;
        parent_[i] = parent_[i + 1] = j;
    }
    freq_[TableSize] = 0xFFFF; // stops the search for a swap partner
    parent_[Root] = 0;
}

void HuffmanTree::Rebuild() {
    // Gather the leaves at the front, halving their frequencies (rounding up keeps each >= 1).
    int j = 0;
    for (int i = 0; i < TableSize; ++i) {
        if (son_[i] >= TableSize) {
            freq_[j] = static_cast<std::uint16_t>((freq_[i] + 1) / 2);
            son_[j] = son_[i];
            ++j;
        }
    }
    // Join pairs from the lowest up, inserting each new node where its frequency belongs.
    for (int i = 0, k = 0; j < TableSize; i += 2, ++j) {
        const unsigned f = static_cast<unsigned>(freq_[i]) + freq_[i + 1];
        for (k = j - 1; f < freq_[k]; --k) {
        }
        ++k;
        for (int m = j; m > k; --m) {
            freq_[m] = freq_[m - 1];
            son_[m] = son_[m - 1];
        }
        freq_[k] = static_cast<std::uint16_t>(f);
        son_[k] = i;
    }
    for (int i = 0; i < TableSize; ++i) {
        const int k = son_[i];
        if (k >= TableSize)
            parent_[k] = i;
        else
            parent_[k] = parent_[k + 1] = i;
    }
}

void HuffmanTree::Update(int c) {
    if (freq_[Root] == MaxFreq)
        Rebuild();
    int node = parent_[c + TableSize];
    do {
        const unsigned k = ++freq_[node];
        // When the order is disturbed, swap with the last node of a lower frequency.
        int l = node + 1;
        if (k > freq_[l]) {
            while (k > freq_[++l]) {
            }
            --l;
            freq_[node] = freq_[l];
            freq_[l] = static_cast<std::uint16_t>(k);

            const int i = son_[node];
            parent_[i] = l;
            if (i < TableSize)
                parent_[i + 1] = l;

            const int s = son_[l];
            son_[l] = i;
            parent_[s] = node;
            if (s < TableSize)
                parent_[s + 1] = node;
            son_[node] = s;

            node = l;
        }
        node = parent_[node];
    } while (node != 0); // the root's parent is 0
}

} // namespace purgelet::lzh
