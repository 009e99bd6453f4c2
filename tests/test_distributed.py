"""Distributed use: the functions pickle by reference and run in process pools, Dask and Spark.

The pipeline cleans a few thousand generated rows (camelCase keys, figures
written the way people write them, gaps) with uncamel, parse and
backfill_iterdict. The rows are made from known values, so the expected
result is known without asking the module.
"""
import copy
import multiprocessing
import os
import pickle
import random
import subprocess
import sys
from concurrent.futures import ProcessPoolExecutor

import pytest

import _tavo

NAMES = list(_tavo.__all__)

# camelCase column -> its snake_case name
COLUMNS = {
    "storeId": "store_id",
    "unitPrice": "unit_price",
    "qtySold": "qty_sold",
    "discountPct": "discount_pct",
    "userID": "user_id",
}


def make_groups(n_groups=8, rows_per_group=500, seed=1234):
    """Returns (dirty groups, expected clean groups)."""
    rng = random.Random(seed)
    dirty_groups, truth_groups = [], []
    for g in range(n_groups):
        dirty_rows, truth_rows = [], []
        for _ in range(rows_per_group):
            cents = rng.randrange(-500_000, 500_000)
            whole, frac = divmod(abs(cents), 100)
            if cents < 0:
                price_text = f"USD ({whole:,}.{frac:02d})"
            else:
                price_text = f"${whole:,}.{frac:02d}"
            price = float(f"{'-' if cents < 0 else ''}{whole}.{frac:02d}")
            qty = rng.randrange(0, 10**6)
            pct = rng.randrange(0, 101)
            # some identifiers beyond 64 bits: they must come back exact
            user = rng.randrange(10**21) if rng.random() < 0.1 else rng.randrange(10**9)
            dirty = {
                "storeId": g,
                "unitPrice": price_text,
                "qtySold": f"{qty:,} pcs",
                "discountPct": f"{pct}%",
                "userID": f"#{user}",
            }
            truth = {"store_id": g, "unit_price": price, "qty_sold": qty, "discount_pct": pct, "user_id": user}
            for camel, snake in COLUMNS.items():
                if camel == "storeId":
                    continue
                r = rng.random()
                if r < 0.15:
                    dirty[camel], truth[snake] = None, None
                elif r < 0.2:
                    dirty[camel], truth[snake] = "n/a", None  # no figure: parse gives None
            dirty_rows.append(dirty)
            truth_rows.append(truth)
        dirty_groups.append(dirty_rows)
        truth_groups.append(fill_model(truth_rows))
    return dirty_groups, truth_groups


def fill_model(rows):
    """Each gap takes the latest earlier value of its column, or the first value when none is earlier."""
    out = [dict(r) for r in rows]
    for key in rows[0]:
        values = [r[key] for r in rows]
        last = next((v for v in values if v is not None), None)
        for row, v in zip(out, values):
            if v is None:
                if last is None:
                    del row[key]
                else:
                    row[key] = last
            else:
                last = v
    return out


def clean_group(rows):
    """The pipeline a user would write: snake_case keys, numbers out of text, gaps filled."""
    renamed = [
        {_tavo.uncamel(k): _tavo.parse(v) if isinstance(v, str) else v for k, v in row.items()}
        for row in rows
    ]
    return _tavo.backfill_iterdict(renamed)


def typed(groups):
    """Rows with each value paired with its type, so that 5 and 5.0 do not compare equal."""
    return [[{k: (type(v), v) for k, v in row.items()} for row in rows] for rows in groups]


@pytest.fixture(scope="module")
def groups():
    return make_groups()


@pytest.mark.parametrize("name", NAMES)
def test_functions_pickle_by_reference(name):
    f = getattr(_tavo, name)
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        data = pickle.dumps(f, protocol)
        assert pickle.loads(data) is f
        assert b"_tavo" in data and name.encode() in data
    assert copy.copy(f) is f
    assert copy.deepcopy(f) is f


def test_cloudpickle_keeps_functions_by_reference():
    cloudpickle = pytest.importorskip("cloudpickle")
    for name in NAMES:
        f = getattr(_tavo, name)
        assert cloudpickle.loads(cloudpickle.dumps(f)) is f


@pytest.mark.thread_unsafe(reason="starts interpreters of its own: threads would only add time")
def test_unpickled_in_a_fresh_interpreter():
    data = pickle.dumps([getattr(_tavo, n) for n in NAMES])
    code = (
        "import pickle, sys\n"
        "fs = pickle.loads(sys.stdin.buffer.read())\n"
        "import _tavo\n"
        "print(all(f is getattr(_tavo, f.__name__) for f in fs), [f.__name__ for f in fs])\n"
    )
    out = subprocess.run([sys.executable, "-c", code], input=data, capture_output=True, check=True)
    assert out.stdout.decode().strip() == f"True {NAMES}"


def test_sequential_pipeline_gives_the_known_values(groups):
    dirty, expected = groups
    assert typed([clean_group(g) for g in dirty]) == typed(expected)


def test_process_pool_pipeline(groups):
    dirty, expected = groups
    sequential = [clean_group(g) for g in dirty]
    # spawn: every worker is a fresh interpreter that imports the module and
    # finds the pickled functions by name
    with ProcessPoolExecutor(max_workers=2, mp_context=multiprocessing.get_context("spawn")) as pool:
        pooled = list(pool.map(clean_group, dirty))
        cells = [row["unitPrice"] for rows in dirty for row in rows if row["unitPrice"] is not None]
        parsed = list(pool.map(_tavo.parse, cells, chunksize=500))
    assert typed(pooled) == typed(sequential) == typed(expected)
    assert parsed == [_tavo.parse(c) for c in cells]
    assert len(cells) > 3000


def test_dask_bag_pipeline(groups):
    db = pytest.importorskip("dask.bag")
    dirty, expected = groups
    sequential = [clean_group(g) for g in dirty]
    bag = db.from_sequence(dirty, npartitions=4).map(clean_group)
    assert bag.npartitions == 4
    got = bag.compute(scheduler="processes", num_workers=2)
    assert typed(got) == typed(sequential) == typed(expected)

    # a row-level pipeline: flatten, rename keys, count per cleaned column
    keys = (
        db.from_sequence(dirty, npartitions=4)
        .flatten()
        .map(lambda row: sorted(_tavo.uncamel(k) for k in row))
        .flatten()
        .frequencies()
        .compute(scheduler="processes", num_workers=2)
    )
    n_rows = sum(len(g) for g in dirty)
    assert dict(keys) == {snake: n_rows for snake in COLUMNS.values()}


@pytest.fixture(scope="module")
def spark():
    pytest.importorskip("pyspark", reason="pyspark is not installed (tools/spark_check.sh installs it)")
    import shutil

    if shutil.which("java") is None and not os.environ.get("JAVA_HOME"):
        pytest.skip("no Java runtime for Spark")
    # the workers must run this interpreter (it has the module), and Spark talks to them on loopback
    os.environ["PYSPARK_PYTHON"] = sys.executable
    os.environ["SPARK_LOCAL_IP"] = "127.0.0.1"
    from pyspark.sql import SparkSession

    session = (
        SparkSession.builder.master("local[2]")
        .config("spark.driver.host", "127.0.0.1")
        .config("spark.driver.bindAddress", "127.0.0.1")
        .config("spark.ui.enabled", "false")
        .config("spark.sql.shuffle.partitions", "3")
        .getOrCreate()
    )
    # the executors unpickle this file's functions by name: ship it and what it imports
    here = os.path.dirname(os.path.abspath(__file__))
    session.sparkContext.addPyFile(os.path.join(here, os.path.basename(__file__)))
    yield session
    session.stop()


def fill_stores(rows):
    """A Spark partition, sorted by store and sequence: each store's rows cleaned on their own."""
    from itertools import groupby

    for _, store_rows in groupby((r.asDict() for r in rows), key=lambda r: r["storeId"]):
        yield from clean_group(list(store_rows))


def test_spark_pipeline(groups, spark):
    from pyspark.sql import functions as F, types as T

    dirty, expected = groups
    columns = ["seq", *COLUMNS]
    schema = T.StructType(
        [T.StructField("seq", T.LongType()), T.StructField("storeId", T.LongType())]
        + [T.StructField(c, T.StringType()) for c in COLUMNS if c != "storeId"]
    )
    rows = [(i, *(row[c] for c in COLUMNS)) for i, row in enumerate(r for g in dirty for r in g)]
    df = spark.createDataFrame(rows, schema).select(*columns)

    # per-partition cleaning: 8 stores over 3 partitions, so partitions hold several stores
    cleaned = (
        df.repartition("storeId").sortWithinPartitions("storeId", "seq").rdd.mapPartitions(fill_stores).collect()
    )
    cleaned.sort(key=lambda r: r["seq"])
    for row in cleaned:
        del row["seq"]
    by_store = [[r for r in cleaned if r["store_id"] == g] for g in range(len(dirty))]
    assert typed(by_store) == typed(expected)

    # a column UDF on the executors
    to_number = F.udf(lambda s: None if s is None or (v := _tavo.parse(s)) is None else float(v), T.DoubleType())
    prices = df.orderBy("seq").select(to_number("unitPrice").alias("p")).collect()
    cells = [r[2] for r in rows]  # seq, storeId, unitPrice, ...
    assert [r["p"] for r in prices] == [None if c is None or (v := _tavo.parse(c)) is None else float(v) for c in cells]
    assert sum(p["p"] is not None for p in prices) > 3000
