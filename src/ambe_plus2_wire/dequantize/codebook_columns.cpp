// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/dequantize/codebook_columns.h"

#include "ambe_plus2_wire/ambe_plus2_tables.h"
#include "common/built_once.h"

namespace ostrel_mbe::ambe_plus2_wire::dequantize {
namespace {

CodebookColumns<512, 3> build_prba24_columns() { return columns_of(tables::PRBA24); }
CodebookColumns<128, 4> build_prba58_columns() { return columns_of(tables::PRBA58); }

}  // namespace

const CodebookColumns<512, 3>& prba24_columns() { return common::built_once<build_prba24_columns>(); }
const CodebookColumns<128, 4>& prba58_columns() { return common::built_once<build_prba58_columns>(); }

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
