"""Grading many pairs of files on a Dask distributed cluster.

    import velumar.dask
    results = velumar.dask.grade_pairs([("ref1.wav", "test1.wav"), ...])

Without a client a local cluster of worker processes is started for the
call and closed afterwards. With a client of a cluster on several machines
(dask-scheduler and dask-worker), every worker must see the files under the
same absolute paths and have velumar installed.
"""

import functools as _functools
import os as _os

import velumar as _velumar


def _grade_one(reference, test, given_reference, given_test, options):
    """Runs on a worker: one pair, never raising for a bad pair."""
    record = {"reference": given_reference, "test": given_test}
    try:
        result = _velumar.grade_files(reference, test, **options)
    except _velumar.Error as error:
        record.update(error.record or dict(graded=False, error=str(error), reason_code=error.reason_code))
        _name_inputs(record, given_reference, given_test)
        return _velumar.Result(record)
    except Exception as error:  # out of memory and the like: this pair fails, the batch goes on
        record.update(graded=False, error="%s: %s" % (type(error).__name__, error), reason_code="internal")
        return _velumar.Result(record)
    record.update(result.record)
    _name_inputs(record, given_reference, given_test)
    return _velumar.Result(record, result.frames, result.clipped_samples)


def _name_inputs(record, given_reference, given_test):
    """The files as the caller named them, as a --batch line names them."""
    for key, given in (("reference", given_reference), ("test", given_test)):
        if (record.get("input") or {}).get(key):
            record["input"][key]["path"] = given


def grade_pairs(pairs, client=None, **options):
    """Grades every (reference, test) pair of `pairs` on a Dask cluster.

    Returns one velumar.Result per pair, in the order of `pairs`. Its
    ``record`` holds the fields of the pair's line in velumar-cli --batch
    output: "reference" and "test" as given, then the result, or for a pair
    that failed ``graded`` False and "error" with the message; no exception
    is raised for a bad pair. Relative paths are taken relative to the
    current folder of the calling process. `options` are those of
    velumar.grade_files (level_db, align, match_level, frames).
    """
    given = []
    for pair in pairs:
        reference, test = pair
        given.append((_os.fspath(reference), _os.fspath(test)))
    if not given:
        return []
    # Checked here, once, rather than as a failure of every pair.
    unknown = set(options) - {"level_db", "align", "match_level", "frames"}
    if unknown:
        raise TypeError("grade_pairs() got unexpected keyword arguments: %s" % ", ".join(sorted(unknown)))

    own_cluster = None
    if client is None:
        from distributed import Client, LocalCluster

        own_cluster = LocalCluster(processes=True, threads_per_worker=1, dashboard_address=None)
        client = Client(own_cluster)
    try:
        task = _functools.partial(_grade_one, options=options)
        futures = client.map(task,
                             [_os.path.abspath(r) for r, _ in given], [_os.path.abspath(t) for _, t in given],
                             [r for r, _ in given], [t for _, t in given],
                             pure=False)
        return client.gather(futures)
    finally:
        if own_cluster is not None:
            client.close()
            own_cluster.close()
