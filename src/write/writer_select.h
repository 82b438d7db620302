#pragma once

// Choosing the writer for an image about to be written, and why an image cannot be written.
// With the format registry, the only place that knows every writer.

#include <memory>
#include <string>

#include "registry/registry.h"
#include "write/writer_base.h"

namespace kelvane {

// A new writer of `format` on the caller's bytes (which it changes in place).
std::unique_ptr<TDkCbmImageWriter> DkCreateWriter(WritableBytes bytes, const std::string& file_name,
                                                  TDkCbmImageFormat format);
// The writer for the format detected from the name and bytes. An image in an old layout gets a
// writer that refuses every change (see its IsOldLayout).
std::unique_ptr<TDkCbmImageWriter> DkOpenWriter(WritableBytes bytes, const std::string& file_name);
// Empty when the detected format is writable; otherwise the size text of the registry.
std::string DkWriteBlockReason(const std::string& file_name, long long size);

}  // namespace kelvane
