"""Shared helpers of the Python module's tests: generated signals written as
WAV files, and velumar-cli run on them for comparison."""

import json
import os
import subprocess
import wave

import numpy as np
import pytest

RATE = 48000
# Timing fields differ from run to run; everything else must match.
TIMING = ("time_s", "speed", "rtf")


def music(seconds, channels, seed):
    """A tonal mixture with a little noise, int16, shape (n, channels)."""
    rng = np.random.default_rng(seed)
    n = int(seconds * RATE)
    t = np.arange(n) / RATE
    out = np.empty((n, channels))
    for c in range(channels):
        tones = sum(0.2 / k * np.sin(2 * np.pi * (220 * k + 3 * c) * t + rng.uniform(0, 6)) for k in range(1, 6))
        out[:, c] = tones * (0.6 + 0.4 * np.sin(2 * np.pi * 1.5 * t)) + 0.01 * rng.standard_normal(n)
    return np.round(out * 32767).astype(np.int16)


def degraded(signal, noise, seed):
    """The signal with added white noise of the given amplitude (in LSB)."""
    rng = np.random.default_rng(seed)
    noisy = signal.astype(np.float64) + noise * rng.standard_normal(signal.shape)
    return np.clip(np.round(noisy), -32768, 32767).astype(np.int16)


def write_wav(path, samples, rate=RATE):
    samples = np.asarray(samples, dtype=np.int16)
    if samples.ndim == 1:
        samples = samples[:, None]
    with wave.open(str(path), "wb") as w:
        w.setnchannels(samples.shape[1])
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(samples.astype("<i2").tobytes())
    return str(path)


def read_wav(path):
    with wave.open(str(path), "rb") as w:
        data = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2")
        return data.reshape(-1, w.getnchannels())


def without_timing(record):
    return {k: v for k, v in record.items() if k not in TIMING}


@pytest.fixture(scope="session")
def cli():
    path = os.environ.get("VELUMAR_CLI")
    if not path:
        pytest.fail("VELUMAR_CLI must name the velumar-cli binary to compare with")

    def run(*args, cwd=None):
        done = subprocess.run([path, *args], capture_output=True, text=True, cwd=cwd)
        return done.returncode, done.stdout

    return run


@pytest.fixture(scope="session")
def pairs(tmp_path_factory):
    """Named pairs of WAV files: one and two channels, a few seconds each."""
    folder = tmp_path_factory.mktemp("pairs")
    made = {}
    for name, seconds, channels, noise in (("mono", 1.5, 1, 40.0), ("stereo", 1.2, 2, 300.0)):
        ref = music(seconds, channels, seed=len(name))
        test = degraded(ref, noise, seed=7)
        made[name] = (write_wav(folder / (name + "_ref.wav"), ref), write_wav(folder / (name + "_test.wav"), test))
    return made


def cli_json(cli, reference, test, *options):
    code, out = cli("--json", *options, reference, test)
    assert code == 0, out
    return json.loads(out)
