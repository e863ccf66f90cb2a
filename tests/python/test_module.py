# SPDX-License-Identifier: GPL-2.0-or-later
"""Module contents, the enumeration classes and the error mapping."""

import threading

import pytest

import _ostrel_mbe as m

ENUMS = {
    m.Rate: [("IMBE_7200X4400", 0), ("IMBE_4400X4400", 1), ("AMBEPLUS2_3600X2450", 2), ("AMBEPLUS2_2450X2450", 3)],
    m.AmbePlus2Synth: [("AMBE_PLUS", 0), ("BASELINE", 1)],
    m.EnhancementMode: [("NONE", 0), ("CLASSICAL", 1)],
    m.FormantWeighting: [("COMPAT", 0), ("STANDARD", 1)],
}
MEMBERS = [(cls, name, value) for cls, members in ENUMS.items() for name, value in members]
MEMBER_IDS = [f"{cls.__name__}.{name}" for cls, name, _ in MEMBERS]


def test_version():
    assert m.__version__ == "0.1.0"


def test_module_contents_in_order():
    public = [name for name in vars(m) if not name.startswith("_")]
    expected = ["Rate", "AmbePlus2Synth", "EnhancementMode", "Vocoder", "LiveEncoder", "LiveDecoder", "Transcoder",
                "FormantWeighting"]
    assert public == [name for name in expected if hasattr(m, name)]
    assert public[:4] == expected[:4]
    assert list(vars(m)).index("__version__") > list(vars(m)).index(public[-1])


def test_package_reexports_the_extension():
    import ostrel_mbe

    assert ostrel_mbe.__version__ == "0.1.0"
    for name in ("Rate", "AmbePlus2Synth", "EnhancementMode", "Vocoder", "FormantWeighting"):
        assert getattr(ostrel_mbe, name) is getattr(m, name)
        assert name in ostrel_mbe.__all__


def test_docstrings():
    assert m.Rate.__doc__ == (
        "On-wire rate / codec selection. The four variants cover the\n"
        "production P25 storage and transport formats. See the upstream\n"
        "`docs/wire_formats_and_storage.md` for the trade-offs."
    )
    assert m.AmbePlus2Synth.__doc__.startswith(
        "AMBE+2 unvoiced/voiced synthesis variant. Default is\n"
        "`AmbePlus` — modern AMBE+ / AMBE+2 sound with US5701390 phase\n"
        "regen. "
    )
    tail = m.AmbePlus2Synth.__doc__.split("phase\nregen. ", 1)[1]
    assert "`Baseline`" in tail and "Hilbert phase regeneration" in tail and tail.endswith(".")
    assert m.EnhancementMode.__doc__ == (
        "Post-decoder PCM enhancement mode. `NONE` is spec-faithful (no\n"
        "post-processing); `CLASSICAL` applies the default biquad +\n"
        "peaking-EQ + output-gain chain (no compressor, fade enabled).\n"
        "`CLASSICAL` is the upstream library default.\n"
        "\n"
        "Fine-grained tuning of the classical chain (custom biquads,\n"
        "compressor knobs, fade samples) isn't exposed from Python yet —\n"
        "open an issue if you need it."
    )
    doc = m.FormantWeighting.__doc__
    assert "`COMPAT` (the default)" in doc and "`STANDARD`" in doc and "TIA-102.BABA" in doc


@pytest.mark.parametrize("cls,name,value", MEMBERS, ids=MEMBER_IDS)
def test_member_int_repr_and_class(cls, name, value):
    member = getattr(cls, name)
    assert type(member) is cls
    assert int(member) == value
    assert repr(member) == f"{cls.__name__}.{name}"
    assert hash(member) == hash(value)


@pytest.mark.parametrize("cls,name,value", MEMBERS, ids=MEMBER_IDS)
def test_equality_with_members_and_integers(cls, name, value):
    member = getattr(cls, name)
    for other_name, other_value in ENUMS[cls]:
        other = getattr(cls, other_name)
        assert (member == other) is (value == other_value)
        assert (member != other) is (value != other_value)
    for n in range(-1, 5):
        assert (member == n) is (value == n)
        assert (member != n) is (value != n)
        assert (n == member) is (value == n)
    assert member == True if value == 1 else member != True  # noqa: E712  bool is an int
    # Anything with __index__ counts as an integer; a float does not.
    assert member == IndexOnly(value)
    assert member != float(value)


class IndexOnly:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


@pytest.mark.parametrize("cls,name,value", MEMBERS, ids=MEMBER_IDS)
def test_other_classes_are_not_implemented(cls, name, value):
    member = getattr(cls, name)
    for other_cls, members in ENUMS.items():
        if other_cls is cls:
            continue
        for other_name, _ in members:
            other = getattr(other_cls, other_name)
            assert member.__eq__(other) is NotImplemented
            assert member.__ne__(other) is NotImplemented
            assert (member == other) is False
            assert (member != other) is True
    for other in ("0", None, 0.0, [value], object()):
        assert member.__eq__(other) is NotImplemented
        assert member != other


def test_rate_examples():
    assert int(m.Rate.AMBEPLUS2_2450X2450) == 3
    assert repr(m.EnhancementMode.NONE) == "EnhancementMode.NONE"
    assert (m.Rate.IMBE_7200X4400 == m.AmbePlus2Synth.AMBE_PLUS) is False
    assert m.Rate.IMBE_7200X4400 == 0
    assert m.Rate.IMBE_4400X4400 == 1


@pytest.mark.parametrize("op", ["__lt__", "__le__", "__gt__", "__ge__"])
@pytest.mark.parametrize("cls", list(ENUMS), ids=lambda c: c.__name__)
def test_ordering_is_refused(cls, op):
    a, b = (getattr(cls, name) for name, _ in ENUMS[cls][:2])
    assert getattr(a, op)(b) is NotImplemented
    with pytest.raises(TypeError):
        a < b
    with pytest.raises(TypeError):
        a >= 0
    with pytest.raises(TypeError):
        sorted([b, a])


@pytest.mark.parametrize("cls", list(ENUMS), ids=lambda c: c.__name__)
def test_no_constructor(cls):
    with pytest.raises(TypeError):
        cls()
    with pytest.raises(TypeError):
        cls(0)


@pytest.mark.parametrize("cls", list(ENUMS), ids=lambda c: c.__name__)
def test_members_are_immutable_and_usable_as_keys(cls):
    member = getattr(cls, ENUMS[cls][0][0])
    with pytest.raises(AttributeError):
        member.value = 5
    with pytest.raises((AttributeError, TypeError)):
        class Sub(cls):  # noqa: F841  the classes are final
            pass
    table = {getattr(cls, name): value for name, value in ENUMS[cls]}
    assert [table[getattr(cls, name)] for name, _ in ENUMS[cls]] == [v for _, v in ENUMS[cls]]
    # Hashing agrees with equality against plain integers.
    assert table[ENUMS[cls][0][1]] == ENUMS[cls][0][1]


def test_enums_work_on_any_thread():
    seen = []

    def worker():
        seen.append((int(m.Rate.AMBEPLUS2_3600X2450), repr(m.AmbePlus2Synth.BASELINE), m.EnhancementMode.NONE == 0))

    t = threading.Thread(target=worker)
    t.start()
    t.join()
    assert seen == [(2, "AmbePlus2Synth.BASELINE", True)]


def test_type_stub_is_installed_beside_the_module():
    from pathlib import Path

    stub = Path(m.__file__).with_name("_ostrel_mbe.pyi")
    text = stub.read_text(encoding="utf-8")
    assert "class Vocoder:" in text
    assert "def encode_pcm(self, pcm: NDArray[numpy.int16]) -> bytes:" in text
    assert "def set_repeat_reset_after(self, n: int | None = None) -> None:" in text
    assert "def set_formant_weighting(self, weighting: FormantWeighting) -> None:" in text
    assert "def formant_weighting(self, /) -> FormantWeighting:" in text
    assert "IMBE_7200X4400: Rate" in text
    # Every setter of every class is typed and documented in the stub.
    for cls in (m.Vocoder, m.LiveEncoder, m.LiveDecoder):
        block = text.split(f"class {cls.__name__}:")[1].split("\nclass ")[0]
        for setter in (name for name in dir(cls) if name.startswith("set_")):
            typed = block.split(f"def {setter}(self, ")[1]
            assert typed.split("\n", 2)[1].strip().startswith('"""'), f"{cls.__name__}.{setter}"


def test_mypy_finds_the_stubs_of_both_modules(tmp_path):
    import subprocess
    import sys

    pytest.importorskip("mypy")
    import ostrel_mbe
    from pathlib import Path

    assert (Path(ostrel_mbe.__file__).parent / "py.typed").is_file()
    program = tmp_path / "typed.py"
    program.write_text("import _ostrel_mbe\nimport ostrel_mbe\n"
                       "reveal_type(_ostrel_mbe.Vocoder(_ostrel_mbe.Rate.IMBE_7200X4400).encode_pcm)\n")
    done = subprocess.run([sys.executable, "-m", "mypy", "--no-incremental", str(program)],
                          capture_output=True, text=True, cwd=tmp_path)
    assert "def (pcm: numpy.ndarray" in done.stdout, done.stdout
    assert "error" not in done.stdout, done.stdout


@pytest.mark.parametrize("cls,name,value", MEMBERS, ids=MEMBER_IDS)
def test_members_pickle_as_themselves(cls, name, value):
    import copy
    import pickle

    member = getattr(cls, name)
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        assert pickle.loads(pickle.dumps(member, protocol)) is member
    assert copy.deepcopy(member) is member
