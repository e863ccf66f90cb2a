#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The main job: installs what it needs, builds the module, then round-trips the bundled speech
# sample through every rate, writing the decoded WAV files to out/ and printing frames/s.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup_env.sh
pip install --no-build-isolation -q .
mkdir -p out
cd out
python -m ostrel_mbe roundtrip --rate imbe7200 --rate imbe4400 --rate ambe3600 --rate ambe2450 --output-dir .
