// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/dequantize/codebook_columns.h"

#include "ambe_plus2_wire/ambe_plus2_tables.h"
#include "common/built_once.h"

namespace ostrel_mbe::ambe_plus2_wire::dequantize {
namespace {

CodebookColumns<512, 3> build_prba24_columns() { return columns_of(tables::PRBA24); }
CodebookColumns<128, 4> build_prba58_columns() { return columns_of(tables::PRBA58); }
CodebookColumns<32, 4> build_hoc_b5_columns() { return columns_of(tables::HOC_B5); }
CodebookColumns<16, 4> build_hoc_b6_columns() { return columns_of(tables::HOC_B6); }
CodebookColumns<16, 4> build_hoc_b7_columns() { return columns_of(tables::HOC_B7); }
CodebookColumns<8, 4> build_hoc_b8_columns() { return columns_of(tables::HOC_B8); }

}  // namespace

const CodebookColumns<512, 3>& prba24_columns() { return common::built_once<build_prba24_columns>(); }
const CodebookColumns<128, 4>& prba58_columns() { return common::built_once<build_prba58_columns>(); }
const CodebookColumns<32, 4>& hoc_b5_columns() { return common::built_once<build_hoc_b5_columns>(); }
const CodebookColumns<16, 4>& hoc_b6_columns() { return common::built_once<build_hoc_b6_columns>(); }
const CodebookColumns<16, 4>& hoc_b7_columns() { return common::built_once<build_hoc_b7_columns>(); }
const CodebookColumns<8, 4>& hoc_b8_columns() { return common::built_once<build_hoc_b8_columns>(); }

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
