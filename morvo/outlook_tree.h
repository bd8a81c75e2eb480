// The folder tree's source over the mail binding.
#pragma once

#include <vector>

#include "morvo/folder_tree.h"
#include "morvo/outlook/outlook.h"

namespace morvo {

// Resolves every position chain from the namespace. The folders of the chain being walked are
// kept, so a deep walk does not resolve its whole chain again for every folder.
class OutlookFolderSource : public FolderSource {
  public:
    explicit OutlookFolderSource(outlook::NameSpace ns) : ns_(std::move(ns)) {}
    std::int32_t folder_count(const std::vector<std::int32_t>& chain) override;
    std::string folder_name(const std::vector<std::int32_t>& chain) override;

  private:
    outlook::MAPIFolder folder(const std::vector<std::int32_t>& chain);
    outlook::NameSpace ns_;
    std::vector<std::int32_t> cached_chain_;
    std::vector<outlook::MAPIFolder> cached_;
};

}  // namespace morvo
