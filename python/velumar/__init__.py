"""Velumar: objective grading of perceived audio quality (the basic version
of PEAQ, ITU-R BS.1387) for Python.

    import velumar
    result = velumar.grade_files("reference.wav", "test.wav")
    print(result.odg, result.grade_text)

    result = velumar.grade(reference_array, test_array)   # NumPy, 48 kHz

Signals are int16 arrays, or floating-point arrays in -1..1 (multiplied by
32768, rounded to nearest and clipped to 16 bits), of shape (n,) for one
channel or (n, 2) for two; sample_rate= other than 48000 resamples them as
velumar-cli resamples a file. Refused input raises velumar.InputError, a
failing model velumar.ModelError; both derive from velumar.Error and carry
the message in Russian, as the command-line tool prints it, its
reason_code and the CLI's error object as record.

velumar.dask.grade_pairs grades many pairs of files on a Dask cluster.
"""

import json as _json
import os as _os

import numpy as _np

from . import _velumar
from ._velumar import Error, InputError, ModelError

__all__ = ["grade", "grade_files", "Result", "Error", "InputError", "ModelError"]

_DEFAULT_LEVEL_DB = 92.0
_DEFAULT_SAMPLE_RATE = 48000


class Result:
    """The grade of one pair and everything measured on the way.

    ``record`` is the dictionary velumar-cli writes for the pair with --json
    (or, for velumar.dask, the pair's --batch line); the attributes below
    read from it. A pair that could not be graded has ``graded`` False and
    ``odg``, ``di``, ``grade_text`` and ``movs`` None; ``reason`` says why.
    """

    def __init__(self, record, frames=None, clipped_samples=None):
        self.record = record
        self.frames = frames
        self.clipped_samples = clipped_samples

    @property
    def graded(self):
        return bool(self.record.get("graded", False))

    @property
    def odg(self):
        return self.record.get("odg")

    @property
    def di(self):
        return self.record.get("di")

    @property
    def grade_text(self):
        return self.record.get("grade_text")

    @property
    def reason(self):
        return self.record.get("reason")

    @property
    def reason_code(self):
        """"too_short", "lengths_differ", ... when there is no grade; None otherwise."""
        return self.record.get("reason_code")

    @property
    def error(self):
        """The message of a pair that failed in a batch; None otherwise."""
        return self.record.get("error")

    @property
    def movs(self):
        """Model output variable name -> value (the network's inputs)."""
        return self.record.get("movs")

    @property
    def channel_movs(self):
        """One dictionary per channel (ADB, which is binaural, left out)."""
        if self.record.get("movs") is None:
            return None
        if "movs_ch1" in self.record:
            return [self.record["movs_ch1"], self.record["movs_ch2"]]
        return [{k: v for k, v in self.record["movs"].items() if k != "ADBB"}]

    @property
    def check(self):
        """The pair analysis (delay, gain, warnings), None when not run."""
        return self.record.get("check")

    def __eq__(self, other):
        if not isinstance(other, Result):
            return NotImplemented
        same_frames = (self.frames is None) == (other.frames is None)
        if same_frames and self.frames is not None:
            same_frames = self.frames.tobytes() == other.frames.tobytes()
        return self.record == other.record and same_frames and self.clipped_samples == other.clipped_samples

    def __repr__(self):
        if self.error is not None:
            return "Result(error=%r)" % self.error
        if not self.graded:
            return "Result(graded=False, reason=%r)" % self.reason
        return "Result(odg=%r, grade_text=%r)" % (self.odg, self.grade_text)


def _options(level_db, align, match_level, frames, sample_rate):
    return dict(level_db=float(level_db), align=bool(align), match_level=bool(match_level),
                frames=bool(frames), sample_rate=float(sample_rate))


def _result(reply):
    record = _json.loads(reply["record"])
    return Result(record, _frame_table(reply.get("frames")), reply.get("clipped_samples"))


def _frame_table(columns):
    """The per-frame columns as one NumPy structured array."""
    if columns is None:
        return None
    length = len(columns["frame"])
    table = _np.empty(length, dtype=[(name, column.dtype) for name, column in columns.items()])
    for name, column in columns.items():
        table[name] = column
    return table


def grade(reference, test, *, level_db=_DEFAULT_LEVEL_DB, align=False, match_level=False, frames=False,
          sample_rate=_DEFAULT_SAMPLE_RATE):
    """Grades the signal under test against the reference, both NumPy arrays."""
    options = _options(level_db, align, match_level, frames, sample_rate)
    return _result(_velumar.grade_arrays(reference, test, **options))


def grade_files(reference_path, test_path, *, level_db=_DEFAULT_LEVEL_DB, align=False, match_level=False,
                frames=False):
    """Grades a pair of audio files exactly as velumar-cli does."""
    options = _options(level_db, align, match_level, frames, _DEFAULT_SAMPLE_RATE)
    return _result(_velumar.grade_files(_os.fspath(reference_path), _os.fspath(test_path), **options))
