"""velumar.grade and velumar.grade_files against velumar-cli, the array
conversions, refusals, pickling and concurrent grading."""

import concurrent.futures
import json
import math
import os
import pickle
import subprocess
import sys

import numpy as np
import pytest

import velumar
from conftest import cli_json, degraded, music, read_wav, without_timing, write_wav


@pytest.mark.parametrize("name", ["mono", "stereo"])
def test_grades_equal_the_cli_to_the_last_bit(cli, pairs, name):
    reference, test = pairs[name]
    expected = without_timing(cli_json(cli, reference, test, "--level", "85"))

    from_files = velumar.grade_files(reference, test, level_db=85)
    assert without_timing(from_files.record) == expected

    # The same samples as arrays, as int16 and as floats in -1..1 (exact
    # multiples of 1/32768 convert back to the same values).
    ref, tst = read_wav(reference), read_wav(test)
    if name == "mono":
        ref, tst = ref[:, 0], tst[:, 0]
    for a, b in ((ref, tst), (ref / 32768.0, tst / 32768.0), (ref.astype(np.float32) / 32768, tst / 32768.0)):
        result = velumar.grade(a, b, level_db=85)
        # Arrays come from no file.
        assert result.record["input"] == {"reference": None, "test": None}
        assert without_timing(result.record) | {"input": expected["input"]} == expected
        assert result.odg == expected["odg"]
    if name == "stereo":
        assert from_files.channel_movs == [expected["movs_ch1"], expected["movs_ch2"]]


def test_float_samples_are_rounded_to_nearest_and_clipped():
    ref = music(0.7, 2, seed=3)
    tst = ref.copy()
    tst[1000:1010, 0] = 32767
    tst[2000:2005, 1] = -32768
    exact = velumar.grade(ref, tst)
    assert exact.clipped_samples == {"reference": 0, "test": 0}

    # Off by less than half a step: the same 16-bit values.
    nudged = (tst + np.where(np.arange(tst.size).reshape(tst.shape) % 2 == 0, 0.49, -0.49)) / 32768.0
    # Beyond full scale where the test is at full scale: clipped back to it.
    nudged[1000:1010, 0] = 1.75
    nudged[2000:2005, 1] = -3.0
    converted = velumar.grade(ref / 32768.0, nudged)
    assert converted.odg == exact.odg and converted.movs == exact.movs
    assert converted.clipped_samples == {"reference": 0, "test": 15}

    # Half-way values go to the even neighbour.
    halves = velumar.grade(ref, np.where(tst % 2 == 0, tst + 0.5, tst) / 32768.0)
    assert halves.clipped_samples["test"] == 0 and halves.odg == exact.odg


def test_refusals_name_what_is_wrong(pairs):
    ref = music(0.6, 2, seed=1)
    cases = [
        (dict(reference=ref.astype(np.int32), test=ref), "int32"),
        (dict(reference=ref, test=np.zeros((ref.shape[0], 3), np.int16)), "(28800, 3)"),
        (dict(reference=ref, test=ref[:, 0]), "каналов"),
        (dict(reference=ref, test=ref[:-1]), "28799 сэмплов на канал"),
        (dict(reference=ref / 32768.0, test=np.where(np.arange(ref.size).reshape(ref.shape) == 7, np.nan, 0.0)),
         "[3, 1]"),
        (dict(reference="reference.wav", test=ref), "<U13"),
        (dict(reference=ref, test=ref, level_db=120), "120"),
        (dict(reference=ref, test=ref, level_db=float("nan")), "nan"),
        (dict(reference=ref, test=ref, sample_rate=400000), "400000"),
    ]
    cases += [(dict(reference=ref, test=ref, sample_rate=rate), str(rate)) for rate in (5000, 44100.5, -1)]
    for kwargs, detail in cases:
        with pytest.raises(velumar.InputError) as caught:
            velumar.grade(**kwargs)
        assert detail in str(caught.value)
        assert caught.value.reason_code == ("lengths_differ" if detail.startswith("28799") else "input")

    with pytest.raises(velumar.InputError, match="Ошибка при открытии файла .*missing.wav"):
        velumar.grade_files(pairs["mono"][0], pairs["mono"][0] + ".missing.wav")
    with pytest.raises(velumar.InputError, match="различное число каналов"):
        velumar.grade_files(pairs["mono"][0], pairs["stereo"][1])


def test_a_pair_too_short_to_grade_has_no_grade():
    ref = music(0.3, 1, seed=2)
    result = velumar.grade(ref, ref)
    assert not result.graded
    assert result.odg is None and result.grade_text is None and result.movs is None
    assert "23" in result.reason and result.reason_code == "too_short"
    error = pickle.loads(pickle.dumps(velumar.InputError("Ошибка")))
    assert isinstance(error, velumar.InputError) and str(error) == "Ошибка"


def test_threads_grade_at_once_with_the_serial_results(pairs):
    ref = music(1.0, 2, seed=11)
    signals = [(ref, np.roll(ref, shift, axis=0)) for shift in (0, 5, 50, 500)]
    serial = [velumar.grade(a, b).record for a, b in signals] + [velumar.grade_files(*pairs["mono"]).record]

    def job(i):
        if i % 5 == 4:
            return velumar.grade_files(*pairs["mono"]).record
        return velumar.grade(*signals[i % 5]).record

    with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
        parallel = list(pool.map(job, range(20)))
    for i, record in enumerate(parallel):
        assert without_timing(record) == without_timing(serial[i % 5])


def assert_rows_equal_the_clis(cli, tmp_path, table, reference, test, *options):
    """The per-frame table has the names, order and every value that
    velumar-cli --frames writes for the same files."""
    code, _ = cli("--frames", str(tmp_path / "f.jsonl"), *options, reference, test)
    assert code == 0
    with open(tmp_path / "f.jsonl") as f:
        expected = [json.loads(line) for line in f]
    assert list(table.dtype.names) == list(expected[0].keys()) and len(table) == len(expected)
    for row, line in zip(table, expected):
        for name, value in line.items():
            mine = row[name].item()
            assert (math.isnan(mine) if value is None else mine == value), (name, mine, value)


@pytest.mark.parametrize("channels", [1, 2])
def test_the_per_frame_table_agrees_with_the_grade_and_the_cli(cli, tmp_path, channels):
    # Silence, then music: frames below the energy threshold (no EHS) and
    # quiet frames (noise loudness computed) as well as loud ones.
    silence = np.zeros((12000, channels), np.int16)
    ref = music(1.0, channels, seed=5)
    ref, tst = np.concatenate([silence, ref]), np.concatenate([silence, degraded(ref, 200.0, seed=9)])
    if channels == 1:
        ref, tst = ref[:, 0], tst[:, 0]
    plain = velumar.grade(ref, tst)
    result = velumar.grade(ref, tst, frames=True)
    assert plain.frames is None and without_timing(result.record) == without_timing(plain.record)
    table = result.frames
    assert len(table) == (ref.shape[0] - 2048) // 1024 + 1 == result.record["frames"]
    loud, energy = table["loud"] == 1, table["energy"] == 1
    assert loud.any() and (~loud).any() and energy.any() and (~energy).any()
    for c in range(channels):
        suffix, movs = "_%d" % (c + 1), result.channel_movs[c]
        assert np.isnan(table["noise_loudness" + suffix]).tolist() == loud.tolist()
        assert np.isnan(table["ehs" + suffix]).tolist() == (~energy).tolist()
        # What the averaging made of the frames is the channel's MOV.
        assert table["disturbed" + suffix].mean() == pytest.approx(movs["RelDistFramesB"], abs=1e-12)
        mean_nmr = np.mean(10.0 ** (table["nmr_db" + suffix] / 10.0))
        assert 10 * np.log10(mean_nmr) == pytest.approx(movs["TotalNMRB"], abs=1e-9)
    assert pickle.loads(pickle.dumps(result)) == result
    paths = write_wav(tmp_path / "r.wav", ref), write_wav(tmp_path / "t.wav", tst)
    assert_rows_equal_the_clis(cli, tmp_path, table, *paths)


def test_align_and_match_level(cli, tmp_path):
    # Broadband, so that the delay is unambiguous (a steady tone is not).
    ref = degraded(music(1.5, 2, seed=4) // 2, 3000.0, seed=4)
    # A test 480 samples early: aligned, the reference's first 480 samples
    # are cut, the overlap is graded as if trimmed by hand, and every frame
    # starts 10 ms later on the reference's timeline, as the CLI's rows do.
    early = np.concatenate([ref[480:], np.zeros((480, 2), np.int16)])
    aligned = velumar.grade(ref, early, align=True)
    assert aligned.check["delay_samples"] == -480 and aligned.record["applied"]["delay_samples"] == -480
    direct = velumar.grade(ref[480:], early[:-480], align=False)
    assert aligned.odg == direct.odg and aligned.movs == direct.movs
    paths = write_wav(tmp_path / "r.wav", ref), write_wav(tmp_path / "e.wav", early)
    table = velumar.grade_files(*paths, frames=True, align=True).frames
    assert table["time_s"][0] == 480 / 48000
    assert_rows_equal_the_clis(cli, tmp_path, table, *paths, "--align")

    quiet = np.round(ref * 10 ** (-6 / 20)).astype(np.int16)
    plain, matched = velumar.grade(ref, quiet), velumar.grade(ref, quiet, match_level=True)
    assert plain.check["gain_db"] == pytest.approx(-6.0, abs=0.05) and "level" in plain.check["warnings"]
    assert matched.odg > plain.odg and matched.record["applied"]["gain_db"] == pytest.approx(6.0, abs=0.05)


def test_nothing_but_the_callers_output_reaches_standard_output(pairs):
    # Creation prints the listening level and a failing stage its line; a
    # program using the module must see neither on its standard output.
    script = ("import sys, numpy, velumar\n"
              "r = velumar.grade_files(sys.argv[1], sys.argv[2])\n"
              "a = velumar.grade(numpy.zeros(20000, numpy.int16), numpy.zeros(20000, numpy.int16))\n"
              "print(r.odg, a.graded)\n")
    done = subprocess.run([sys.executable, "-c", script, *pairs["stereo"]], capture_output=True, text=True,
                          env=dict(os.environ))
    assert done.returncode == 0, done.stderr
    assert done.stdout == "%r False\n" % velumar.grade_files(*pairs["stereo"]).odg


def test_other_sample_rates_are_resampled_as_the_cli_resamples_files(cli, tmp_path):
    ref = music(1.2, 2, seed=12)
    tst = degraded(ref, 100.0, seed=12)
    paths = [write_wav(tmp_path / name, signal, 44100) for name, signal in (("r44.wav", ref), ("t44.wav", tst))]
    expected = without_timing(cli_json(cli, *paths))
    assert "converted" in expected["check"]["warnings"] and expected["input"]["test"]["sample_rate"] == 44100

    from_ints = velumar.grade(ref, tst, sample_rate=44100)
    from_floats = velumar.grade(ref / 32768.0, tst / 32768.0, sample_rate=44100)
    for result in (from_ints, from_floats):
        record = without_timing(result.record)
        assert [record["input"][k]["path"] for k in ("reference", "test")] == ["", ""]
        for k in ("reference", "test"):
            record["input"][k]["path"] = expected["input"][k]["path"]
            record["input"][k].pop("subtype"), expected["input"][k].pop("subtype", None)
            record["input"][k].pop("bits"), expected["input"][k].pop("bits", None)
        assert record == expected
