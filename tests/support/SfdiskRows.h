// The rows the image tool must list for a disk, worked out from sfdisk's
// reading of the image alone.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace quorvane::test {

// The rows of `image` listed as disk `disk`, with the keys of
// quorvane-image --json: "disk", "partition", "id", "kind", "size_mb",
// "start" and "windows_partition". Scan order: used MBR slots in slot order;
// a 05/0F container followed by its logicals in chain order, or by one "00"
// row when it has none (its first EBR is a zero table); a protective entry
// followed by the GPT's partitions. Windows counts the primaries that are not
// 05/0F first, then the logicals, and numbers none of them on a disk with a
// protective entry; 0x85 is a primary whose logicals (which sfdisk does list)
// are not shown. A disk sfdisk finds no table on has no rows.
nlohmann::json RowsFromSfdisk(const std::string& image, int disk);

}  // namespace quorvane::test
