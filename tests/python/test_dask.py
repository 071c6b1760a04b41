"""velumar.dask.grade_pairs on a local cluster of two worker processes,
against velumar-cli --batch on the same list."""

import json
import os

import pytest

import velumar
import velumar.dask
from conftest import degraded, music, without_timing, write_wav

distributed = pytest.importorskip("distributed")


def test_a_local_cluster_grades_a_batch_as_the_cli_does(cli, tmp_path, monkeypatch):
    folder = tmp_path / "set"
    folder.mkdir()
    pairs = []
    for i in range(8):
        ref = music(0.6 + 0.05 * i, 1 + i % 2, seed=20 + i)
        write_wav(folder / ("ref%d.wav" % i), ref)
        write_wav(folder / ("test%d.wav" % i), degraded(ref, 10.0 * (i + 1), seed=i))
        pairs.append(("set/ref%d.wav" % i, "set/test%d.wav" % i))
    # The fifth pair's test file does not exist.
    pairs[4] = ("set/ref4.wav", "set/absent.wav")

    (tmp_path / "list.csv").write_text("".join("%s,%s\n" % p for p in pairs))
    code, out = cli("--batch", "list.csv", "--level", "90", cwd=tmp_path)
    assert code == 1
    expected = [without_timing(json.loads(line)) for line in out.splitlines()]
    assert len(expected) == 8

    # Relative paths are the caller's: the workers run elsewhere.
    monkeypatch.chdir(tmp_path)
    with distributed.LocalCluster(n_workers=2, processes=True, threads_per_worker=1,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        results = velumar.dask.grade_pairs(pairs, client=client, level_db=90)
        workers = set(client.run(os.getpid).values())
    assert len(workers) == 2 and os.getpid() not in workers

    assert [type(r) for r in results] == [velumar.Result] * 8
    for i, (result, line) in enumerate(zip(results, expected)):
        line.setdefault("graded", "error" not in line)
        if "error" in line:
            # The workers were given the absolute path, and name it.
            line["error"] = line["error"].replace("set/absent.wav", str(tmp_path / "set/absent.wav"))
        assert without_timing(result.record) == line, i
    assert not results[4].graded and results[4].odg is None and "absent.wav" in results[4].error

    # Without a client: a cluster of its own, closed again afterwards.
    again = velumar.dask.grade_pairs(pairs[3:5], level_db=90)
    assert [without_timing(r.record) for r in again] == [without_timing(r.record) for r in results[3:5]]

    with pytest.raises(TypeError, match="level"):
        velumar.dask.grade_pairs(pairs, client=object(), levell_db=90)
    assert velumar.dask.grade_pairs([], client=object()) == []
