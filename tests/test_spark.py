"""tavo.spark: the column functions as Spark columns, and rename, in local mode on loopback.

Every test runs on a classic session and again under Spark Connect (a local Connect
server started from the installed pyspark), with small Arrow batches so that a column
crosses several. Rows are checked against the per-element functions; the Spark 3.5 path
(pandas_udf) is run too, on the same Spark, by taking arrow_udf away. tools/spark_check.sh
installs pyspark and its Connect client and runs this file (with the README's blocks)."""
import importlib.util
import os
import shutil
import socket
import subprocess
import sys

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

import _tavo
from models.number import column_model
from models.price import column_row
from strategies import SETTINGS, fraction_text, nasty_text, number_text

if importlib.util.find_spec("tavo") is None:
    pytest.skip("the tavo package is not installed (pip install .)", allow_module_level=True)

import tavo  # noqa: E402
from tavo._frontends import FUNCTIONS  # noqa: E402

SESSIONS = ["classic", "connect"]
BATCH_ROWS = 7  # Arrow batches of a few rows: a column spans several, in each partition


def test_import_without_pyspark_names_the_extra():
    code = ("import sys; sys.modules['pyspark'] = None\n"
            "try:\n    import tavo.spark\nexcept ImportError as e:\n    print(e)\n")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout
    assert "pip install tavo[spark]" in out


@pytest.fixture(scope="module")
def classic_spark():
    """A local session on loopback that also serves Spark Connect, on a free port."""
    pytest.importorskip("pyspark", reason="pyspark is not installed (tools/spark_check.sh installs it)")
    pytest.importorskip("pyarrow", reason="pyarrow is not installed (tools/spark_check.sh installs it)")
    if shutil.which("java") is None and not os.environ.get("JAVA_HOME"):
        pytest.skip("no Java runtime for Spark")
    from pyspark.sql import SparkSession

    # the workers must run this interpreter (it has the module), and everything stays on loopback
    os.environ["PYSPARK_PYTHON"] = sys.executable
    os.environ["SPARK_LOCAL_IP"] = "127.0.0.1"
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    # a session left by an earlier test (the README's blocks) would be handed back as it is,
    # without the Connect server: a new one is started
    if SparkSession._instantiatedSession is not None:
        SparkSession._instantiatedSession.stop()
    session = (SparkSession.builder.master("local[2]")
               .config("spark.driver.host", "127.0.0.1")
               .config("spark.driver.bindAddress", "127.0.0.1")
               .config("spark.ui.enabled", "false")
               .config("spark.sql.shuffle.partitions", "3")
               .config("spark.plugins", "org.apache.spark.sql.connect.SparkConnectPlugin")
               .config("spark.connect.grpc.binding.address", "127.0.0.1")
               .config("spark.connect.grpc.binding.port", str(port))
               .getOrCreate())
    with socket.create_connection(("127.0.0.1", port), timeout=30):  # the Connect server listens
        pass
    yield session, "sc://127.0.0.1:%d" % port
    session.stop()


def connect_client(url):
    """A Spark Connect client of the local server, or None and why there is none."""
    try:
        from pyspark.sql.connect.utils import check_dependencies

        check_dependencies()
    except ImportError as e:
        return None, "Spark Connect's client libraries are missing (pip install pyspark[connect]): %s" % e
    from pyspark.sql.connect.session import SparkSession as ConnectSession

    return ConnectSession.builder.remote(url).getOrCreate(), ""


@pytest.fixture(scope="module", params=SESSIONS)
def spark(request, classic_spark):
    """Each test on the classic session, then as a Spark Connect client: pyspark's functions
    (F.col, arrow_udf...) then make Connect's columns, as in a process that only has a client."""
    session, url = classic_spark
    if request.param == "connect":
        os.environ["SPARK_CONNECT_MODE_ENABLED"] = "1"
        session, why = connect_client(url)
        if session is None:
            os.environ.pop("SPARK_CONNECT_MODE_ENABLED")
            pytest.skip(why)
    session.conf.set("spark.sql.execution.arrow.maxRecordsPerBatch", str(BATCH_ROWS))
    yield session
    if request.param == "connect":
        session.stop()
        os.environ.pop("SPARK_CONNECT_MODE_ENABLED")


@pytest.fixture
def ts(spark):
    import tavo.spark

    return tavo.spark


@pytest.fixture(params=["arrow_udf", "pandas_udf"])
def udf_kind(request, ts, monkeypatch):
    """Each test once as on Spark 4.1 and later, once as on Spark 3.5 (no arrow_udf)."""
    if request.param == "pandas_udf":
        monkeypatch.setattr(ts, "_ARROW_UDF", None)
    else:
        assert ts._ARROW_UDF is not None, "this Spark has no arrow_udf: the Spark 4.1 path goes untested"
    return request.param


def text_frame(spark, rows):
    """A DataFrame of one string column `s`, in its row order (`i`), over 2 partitions."""
    return spark.createDataFrame(list(enumerate(rows)), "i bigint, s string").repartition(2)


def collect_ordered(frame):
    return [r[1:] for r in sorted(frame.collect(), key=lambda r: r[0])]


# every column of the check: (label, Spark column, expected per-element function)
def variants(ts):
    from pyspark.sql import functions as F

    out = [(name, getattr(ts, name)("s"), getattr(_tavo, name)) for name in
           ("uncamel", "underscore_to_camelcase", "sanitize_vulgar_string")]
    for decimal in ".,":
        for parse_type in (None, "int64", "float64"):
            declared = "int64" if parse_type == "int64" else "float64"
            out.append(("parse %s %s" % (parse_type, decimal), ts.parse(F.col("s"), parse_type, decimal=decimal),
                        lambda r, d=decimal, t=declared: column_model([tavo.parse(r, decimal=d)], t)[1][0]))
    for decimal in (None, ".", ","):
        out.append(("price %s" % decimal, ts.price("s", decimal=decimal), lambda r, d=decimal: price_row(r, d)))
    return out


def price_row(text, decimal):
    """What a struct row of ts.price holds for `text`: (amount as a double, currency), or None
    where the text holds no price."""
    row = column_row(tavo.price(text, decimal=decimal))
    return None if row is None else (row["amount"], row["currency"])


def same(got, expected):
    """Same values and Python types (int against float), floats to the bit."""
    if isinstance(expected, float):
        return isinstance(got, float) and got.hex() == expected.hex()
    if isinstance(expected, tuple):  # a struct row
        return isinstance(got, tuple) and len(got) == len(expected) and all(map(same, got, expected))
    return type(got) is type(expected) and got == expected


def check_rows(spark, ts, rows):
    checks = variants(ts)
    frame = text_frame(spark, rows).select("i", *[column for _, column, _ in checks])
    got = collect_ordered(frame)
    assert len(got) == len(rows)
    for (label, _, f), column in zip(checks, zip(*got) if got else [()] * len(checks)):
        expected = [None if r is None else f(r) for r in rows]
        if label.startswith("price"):
            # pandas_udf (Spark 3.5) gives a DataFrame, which cannot hold a null struct: a
            # struct of nulls there (a price always has its amount)
            column = [None if isinstance(g, tuple) and g == (None, None) else g for g in column]
        bad = [(r, g, e) for r, g, e in zip(rows, column, expected) if not same(g, e)]
        assert not bad, (label, bad[:5])


ROW_TEXT = st.one_of(st.none(), st.just(""), st.text(alphabet="aAbBzZ09_- ", max_size=30), nasty_text(),
                     fraction_text(), number_text(), st.text(alphabet="0123456789.,()-' \u20ac", max_size=16))


@settings(SETTINGS, max_examples=8,
          suppress_health_check=[HealthCheck.too_slow, HealthCheck.function_scoped_fixture])
@given(rows=st.lists(ROW_TEXT, min_size=1, max_size=60))
def test_rows_are_the_per_element_results(spark, ts, udf_kind, rows):
    check_rows(spark, ts, rows)


# chosen rows: ints at the 64-bit edges and past 2**53 (exact in bigint, with nulls about),
# a decimal comma, accounting negatives, fractions, and text of several scripts
CHOSEN = [None, "", "getHTTPResponseCode", "ÉcoleNormale", "user_id_value", "__Init__", "2 ½ cups", "⅔",
          "9007199254740993", "9223372036854775807", "9223372036854775808", "-9223372036854775808",
          "(1.234,56)", "$1,200.50", "n/a", "1e5", "-0.0", None, "12 pcs", "x" * 3000]


def test_chosen_rows(spark, ts, udf_kind):
    check_rows(spark, ts, CHOSEN)


def test_declared_types_and_names(spark, ts):
    """The plan's schema is known before anything runs, and named as Spark names its own."""
    from pyspark.sql import types as T

    frame = text_frame(spark, ["a"]).select(
        ts.uncamel("s"), ts.underscore_to_camelcase("s"), ts.sanitize_vulgar_string("s"),
        ts.parse("s", decimal="."), ts.parse("s", "float64", decimal=","), ts.parse("s", "int64", decimal="."))
    assert [(f.name, f.dataType) for f in frame.schema.fields] == [
        ("uncamel(s)", T.StringType()), ("underscore_to_camelcase(s)", T.StringType()),
        ("sanitize_vulgar_string(s)", T.StringType()), ("parse(s)", T.DoubleType()),
        ("parse(s)", T.DoubleType()), ("parse(s)", T.LongType())]


def test_nulls_and_empty_frames(spark, ts, udf_kind):
    from pyspark.sql import functions as F

    labels = [label for label, _, _ in variants(ts)]
    # no rows at all, and rows of nulls only (of string type, and of Spark's void type)
    empty = spark.createDataFrame([], "i bigint, s string").select("i", *[c for _, c, _ in variants(ts)])
    assert empty.collect() == [] and len(empty.columns) == len(labels) + 1
    nulls = text_frame(spark, [None] * 20).select("i", *[c for _, c, _ in variants(ts)])
    # (a price row may be a struct of nulls: see check_rows)
    got = [tuple(None if isinstance(v, tuple) and v == (None, None) else v for v in row) for row in collect_ordered(nulls)]
    assert got == [(None,) * len(labels)] * 20
    void = spark.range(3).select(ts.uncamel(F.lit(None)), ts.parse(F.lit(None), "int64", decimal="."))
    assert [tuple(r) for r in void.collect()] == [(None, None)] * 3


@pytest.mark.parametrize("values, schema, spark_type", [
    ([(1,), (None,)], "n bigint", "bigint"),
    ([(1.5,)], "n double", "double"),
    ([(("a", 1),)], "n struct<x: string, y: int>", "struct<x"),
])
def test_a_column_not_of_strings_is_refused(spark, ts, udf_kind, values, schema, spark_type):
    frame = spark.createDataFrame(values, schema)
    # pandas_udf sees what pandas makes of each batch (a bigint is int64, or float64 with nulls)
    told = spark_type if udf_kind == "arrow_udf" else "(%s|(int64|float64) \\(pandas dtype\\))" % spark_type
    for column in (ts.uncamel("n"), ts.parse("n", decimal=".")):
        with pytest.raises(Exception, match=r"takes a column of strings, got one of type %s" % told):
            frame.select(column).collect()


def test_argument_errors(ts):
    with pytest.raises(ValueError, match=r"needs decimal='\.' or decimal=',', not 'infer'.*in batches"):
        ts.parse("s", decimal="infer")
    with pytest.raises(ValueError, match=r"takes decimal=None, '\.' or ',', not 'infer'"):
        ts.price("s", decimal="infer")
    with pytest.raises(TypeError, match="decimal"):
        ts.parse("s")
    with pytest.raises(ValueError, match="type must be"):
        ts.parse("s", "int32", decimal=".")
    with pytest.raises(TypeError, match=r"column name \(str\) or a Column, not int"):
        ts.uncamel(5)


def test_every_column_function_is_here(ts):
    # a column function added to tavo without a Spark twin fails here
    assert sorted(f.name for f in FUNCTIONS) == sorted(set(ts.__all__) - {"rename"})


# --- rename -------------------------------------------------------------------------------

NESTED = ("userId bigint, `home.Address` struct<zipCode: string, geoPoint: struct<latDeg: double>>, "
          "orderItems array<struct<unitPrice: double, skuCode: string>>, "
          "tagsByName map<string, struct<tagValue: string>>, plainName string")
ROW = (7, ("E1", (51.5,)), [(2.5, "A-1"), (None, None)], {"someKey": ("v",)}, None)


def test_rename_nested(spark, ts):
    from pyspark.sql import types as T

    frame = spark.createDataFrame([ROW], NESTED)
    renamed = ts.rename(frame, tavo.uncamel)
    assert renamed.schema == T.StructType.fromDDL(
        "user_id bigint, `home.address` struct<zip_code: string, geo_point: struct<lat_deg: double>>, "
        "order_items array<struct<unit_price: double, sku_code: string>>, "
        "tags_by_name map<string, struct<tag_value: string>>, plain_name string")
    assert [tuple(r) for r in renamed.collect()] == [ROW]  # the values as they were; map keys are values
    back = ts.rename(renamed, tavo.underscore_to_camelcase)
    assert back.columns == ["userId", "home.address", "orderItems", "tagsByName", "plainName"]
    unchanged = ts.rename(frame, lambda name: name)
    assert unchanged.schema == frame.schema


@pytest.mark.parametrize("schema, message", [
    ("userId string, user_id string", "the columns 'userId' and 'user_id' both become 'user_id'"),
    ("a struct<zipCode: int, zip_code: int>", "the fields 'a.zipCode' and 'a.zip_code' both become 'a.zip_code'"),
    ("a array<struct<b: struct<xY: int, x_y: int>>>", r"the fields 'a\[\]\.b\.xY' and 'a\[\]\.b\.x_y' both become"),
    ("a map<string, struct<xY: int, x_y: int>>", r"the fields 'a\{value\}\.xY' and 'a\{value\}\.x_y' both become"),
])
def test_rename_collision(spark, ts, schema, message):
    frame = spark.createDataFrame([], schema)
    with pytest.raises(ValueError, match=message):
        ts.rename(frame, tavo.uncamel)


def test_rename_needs_str_names(spark, ts):
    frame = spark.createDataFrame([], "a string")
    with pytest.raises(TypeError, match=r"gave int for 'a'; it must give a str"):
        ts.rename(frame, len)
    with pytest.raises(TypeError, match="takes a function of a name"):
        ts.rename(frame, "uncamel")
