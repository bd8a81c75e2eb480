#include "morvo/outlook_tree.h"

namespace morvo {

outlook::MAPIFolder OutlookFolderSource::folder(const std::vector<std::int32_t>& chain) {
    if (chain.empty()) throw platform::Error(outlook::e_invalidarg, "no folder position");
    size_t keep = 0;
    while (keep < chain.size() && keep < cached_chain_.size() && chain[keep] == cached_chain_[keep])
        ++keep;
    cached_chain_.resize(keep);
    cached_.resize(keep);
    for (size_t k = keep; k < chain.size(); ++k) {
        outlook::MAPIFolder f = k == 0 ? ns_.Folders(static_cast<long>(chain[0]))
                                       : cached_.back().Folders(static_cast<long>(chain[k]));
        cached_chain_.push_back(chain[k]);
        cached_.push_back(std::move(f));
    }
    return cached_.back();
}

std::int32_t OutlookFolderSource::folder_count(const std::vector<std::int32_t>& chain) {
    if (chain.empty()) return static_cast<std::int32_t>(ns_.Folders().Count());
    return static_cast<std::int32_t>(folder(chain).Folders().Count());
}

std::string OutlookFolderSource::folder_name(const std::vector<std::int32_t>& chain) {
    return folder(chain).Name();
}

}  // namespace morvo
