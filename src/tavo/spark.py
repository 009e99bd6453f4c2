"""The column functions as Spark column expressions, and the renaming of a DataFrame's columns.

    import tavo
    import tavo.spark as ts

    df = ts.rename(df, tavo.uncamel)
    df.select(ts.uncamel("name"), ts.parse("price", decimal=","))

Each function of `tavo.columns` is here, taking a column name or a `Column` and giving a
`Column`, as the functions of `pyspark.sql.functions` do: `uncamel`,
`underscore_to_camelcase`, `sanitize_vulgar_string` (string to string) and
`parse(col, type=None, *, decimal)` (string to double, or to bigint with `type="int64"`). The
rows are those of `tavo.columns`: a null stays null, every other row is what the per-element
function gives.

- Each is a vectorised UDF: Spark hands it an Arrow batch of the column and gets an Arrow
  batch back, converted in native code without a Python object per row. On Spark 4.1 and
  later it is an Arrow UDF (`pyspark.sql.functions.arrow_udf`: pyarrow arrays in and out,
  no pandas step); on Spark 3.5 a `pandas_udf`, whose Series go through pyarrow.
- The return type is declared (string; double for `parse`, bigint with `type="int64"`), so
  the plan and its schema are known before anything runs. A declared type cannot depend on
  the values: `parse`'s `type=None` is therefore double, as in the polars front end.
- `parse` needs its decimal mark, `decimal="."` or `decimal=","`: Spark hands a UDF its
  column a batch at a time, and a mark inferred batch by batch (`tavo.columns.parse`'s
  default, "infer") could differ within one column. `decimal="infer"` raises ValueError.
  Decide the mark over the whole column first, if you must:
  `tavo.columns.number_format(df.select("price").toArrow()["price"]).decimal`.
- A column that is not of strings (a bigint, a struct...) cannot be converted: the UDF
  raises TypeError naming its type when the query runs, which Spark reports as a
  `PythonException`.
- Nothing here reaches Spark's JVM gateway (`sparkContext`, `_jvm`): the functions and
  `rename` work alike on a classic session and under Spark Connect. The workers need tavo,
  as they need any module a UDF uses.

`rename(df, fn)` renames the columns on the driver, no UDF: each column name, and each
field name of the structs within (in arrays and maps too), becomes `fn(name)`.

Needs pyspark 3.5 or later and pyarrow (`pip install tavo[spark]`); pandas too on Spark 3.5.
"""

from __future__ import annotations

from typing import Any, Callable, Literal, Optional, Union

try:
    import pyarrow as pa
    from pyspark.sql import Column, DataFrame
    from pyspark.sql import functions as F
    from pyspark.sql import types as T
except ImportError as e:
    raise ImportError("tavo.spark needs pyspark (3.5 or later) and pyarrow: pip install tavo[spark] (%s)" % e) from e

from ._frontends import (PARSE, PRICE, SANITIZE_VULGAR_STRING, UNCAMEL, UNDERSCORE_TO_CAMELCASE, ColumnFunction, Output,
                         ParseType)

__all__ = ["parse", "price", "rename", "sanitize_vulgar_string", "uncamel", "underscore_to_camelcase"]

ColumnOrName = Union[Column, str]

# the Spark type each kind of result is declared with
_SPARK_TYPES: dict[Output, T.DataType] = {
    "utf8": T.StringType(), "int64": T.LongType(), "float64": T.DoubleType(),
    "price": T.StructType([T.StructField("amount", T.DoubleType()), T.StructField("currency", T.StringType())]),
}
# Spark 4.1 and later: Arrow batches straight in and out; Spark 3.5: through pandas
_ARROW_UDF: Any = getattr(F, "arrow_udf", None)


def uncamel(col: ColumnOrName) -> Column:
    """camelCase or PascalCase to snake_case, row by row (`tavo.uncamel`): a string column;
    nulls stay null."""
    return _column(UNCAMEL, col)


def underscore_to_camelcase(col: ColumnOrName) -> Column:
    """underscore_delimited text to camelCase, row by row (`tavo.underscore_to_camelcase`): a
    string column; nulls stay null."""
    return _column(UNDERSCORE_TO_CAMELCASE, col)


def sanitize_vulgar_string(col: ColumnOrName) -> Column:
    """Vulgar fractions (and the whole number in front of each) to decimal numbers, row by row
    (`tavo.sanitize_vulgar_string`): a string column; nulls stay null."""
    return _column(SANITIZE_VULGAR_STRING, col)


def parse(col: ColumnOrName, type: ParseType = None, *, decimal: Literal[".", ","]) -> Column:
    """The number in each row (`tavo.parse`), null where there is none: a double column, or a
    bigint column with `type="int64"` (a value a bigint cannot hold exactly, such as a
    fraction, is null there).

    `decimal`, required: "." reads a point as the decimal mark (a comma is dropped like any
    separator), "," a comma ("1.234,56" is 1234.56). Spark hands the function its column in
    batches, and a mark inferred batch by batch could differ within one column, so "infer"
    raises ValueError."""
    if not (isinstance(decimal, str) and decimal in (".", ",")):
        raise ValueError("tavo.spark.parse needs decimal='.' or decimal=',', not %r: Spark hands a UDF its column "
                         "in batches, and a mark inferred batch by batch could differ within one column (decide "
                         "it over the whole column with tavo.columns.number_format first)" % (decimal,))
    return _column(PARSE, col, type=type, decimal=decimal)


def price(col: ColumnOrName, *, decimal: Optional[Literal[".", ","]] = None) -> Column:
    """The amount and currency of the price in each row (`tavo.price`): a struct column
    `amount` (double) and `currency` (string), null where a row holds no price (with Spark
    3.5's pandas UDFs, which cannot return a null struct, a struct of nulls). Each text
    decides its own decimal mark (`decimal=None`), which a batch cannot change; `decimal="."`
    or `","` gives it."""
    if decimal is not None and not (isinstance(decimal, str) and decimal in (".", ",")):
        raise ValueError("tavo.spark.price takes decimal=None, '.' or ',', not %r" % (decimal,))
    return _column(PRICE, col, decimal=decimal)


def _column(record: ColumnFunction, col: ColumnOrName, **given: Any) -> Column:
    """The UDF of the tavo.columns function of `record` applied to `col`, its result declared."""
    options = record.arguments(given, declared=True)  # checks `type`
    returns = _SPARK_TYPES[record.declared(given.get("type"))]
    if not isinstance(col, (str, Column)):
        raise TypeError("tavo.spark.%s takes a column name (str) or a Column, not %s"
                        % (record.name, _type_name(col)))
    if _ARROW_UDF is not None:
        udf = _ARROW_UDF(_arrow_batch(record, options), returns)
    else:
        from pyspark.sql.pandas.functions import pandas_udf

        udf = pandas_udf(_pandas_batch(record, options), returns)  # type: ignore[call-overload, unused-ignore]
    column: Column = udf(col)  # named as Spark names its own: uncamel(name)
    return column


def _arrow_batch(record: ColumnFunction, options: dict[str, Any]) -> Callable[[pa.Array], pa.Array]:
    """The Arrow UDF's function: a pyarrow array of the column in, the result out."""
    function, name = record.function, record.name

    def run(column: pa.Array) -> pa.Array:
        result: pa.Array = function(_text(column, name), **options)
        return result

    # what arrow_udf reads to know the kind of UDF (the annotations above are strings),
    # and the name Spark gives the result column
    run.__annotations__ = {"column": pa.Array, "return": pa.Array}
    run.__name__ = name
    return run


def _pandas_batch(record: ColumnFunction, options: dict[str, Any]) -> Callable[[Any], Any]:
    """The pandas UDF's function (Spark 3.5): a pandas Series of the column in, the result
    out, both through pyarrow (a bigint with nulls as the nullable Int64, never a float)."""
    import pandas as pd

    function, name = record.function, record.name

    def run(column: pd.Series) -> Union[pd.Series, pd.DataFrame]:
        if not isinstance(column, pd.Series):  # a struct column comes as a DataFrame
            raise _not_text(name, "struct<%s>" % ",".join(map(str, column.columns)))
        if column.dtype != object and not isinstance(column.dtype, pd.StringDtype):
            # a bigint with nulls comes as float64: the pandas dtype is what can be told
            raise _not_text(name, "%s (pandas dtype)" % column.dtype)
        result = function(_text(pa.Array.from_pandas(column), name), **options)
        if pa.types.is_struct(result.type):  # a struct result goes back as a DataFrame of its fields
            fields: list[pa.Array] = pa.chunked_array(result).combine_chunks().flatten()
            return pd.DataFrame({f.name: a.to_pandas() for f, a in zip(result.type, fields)})
        mapper = {pa.int64(): pd.Int64Dtype()}.get if pa.types.is_int64(result.type) else None
        out: pd.Series = result.to_pandas(types_mapper=mapper)
        return out

    # a struct result (price) is a DataFrame of its fields for pandas_udf
    run.__annotations__ = {"column": pd.Series, "return": pd.DataFrame if record.kind == "price" else pd.Series}
    run.__name__ = name
    return run


def _text(column: pa.Array, name: str) -> pa.Array:
    """The batch, if it is text; a batch of nulls only (Spark's void type) as text."""
    kind = column.type
    if pa.types.is_string(kind) or pa.types.is_large_string(kind) or pa.types.is_string_view(kind):
        return column
    if pa.types.is_null(kind):
        return column.cast(pa.string())
    raise _not_text(name, _spark_type_name(kind))


def _not_text(name: str, spark_type: str) -> TypeError:
    return TypeError("tavo.spark.%s takes a column of strings, got one of type %s; cast it to string first if "
                     "its text is meant" % (name, spark_type))


def _spark_type_name(kind: pa.DataType) -> str:
    """The Spark name of an Arrow type (bigint, struct<...>), as users know it."""
    try:
        from pyspark.sql.pandas.types import from_arrow_type

        spark_type: T.DataType = from_arrow_type(kind)
        name: str = spark_type.simpleString()
        return name
    except Exception:  # a type Spark's table lacks: Arrow's name then
        return str(kind)


def rename(df: DataFrame, fn: Callable[[str], str]) -> DataFrame:
    """`df` with each column named `fn(name)`, and each field of its structs (within arrays
    and maps too) named `fn(field name)`; the values and types are otherwise the same.

    Runs on the driver: the columns are renamed and the structs cast to their renamed types
    (a cast between structs goes by position), no UDF and no pass over the rows. `fn` is
    any function of a str giving a str (`tavo.uncamel`, `tavo.underscore_to_camelcase`).

    ValueError is raised, and nothing renamed, when two columns, or two fields of one
    struct, would get the same name ("the columns 'userId' and 'user_id' both become
    'user_id'"); TypeError when `fn` gives anything but a str."""
    if not callable(fn):
        raise TypeError("tavo.spark.rename takes a function of a name, not %s" % _type_name(fn))
    fields = df.schema.fields
    names = _renamed([f.name for f in fields], fn, "")
    types = [_renamed_type(f.dataType, fn, f.name) for f in fields]
    renamed = df.toDF(*names)
    if all(new == f.dataType for new, f in zip(types, fields)):
        return renamed
    return renamed.select(*[
        F.col(_quoted(name)) if new == f.dataType else F.col(_quoted(name)).cast(new).alias(name)
        for name, new, f in zip(names, types, fields)])


def _renamed(names: list[str], fn: Callable[[str], str], path: str) -> list[str]:
    """`fn` of each name; ValueError when two become one. `path`: where the names are ('' for
    the columns, 'address.' for the fields of the struct column address)."""
    out: list[str] = []
    seen: dict[str, str] = {}
    for name in names:
        new = fn(name)
        if not isinstance(new, str):
            raise TypeError("tavo.spark.rename: the function gave %s for %r; it must give a str"
                            % (_type_name(new), path + name))
        if new in seen:
            what = "fields" if path else "columns"
            raise ValueError("tavo.spark.rename: the %s %r and %r both become %r"
                             % (what, path + seen[new], path + name, path + new))
        seen[new] = name
        out.append(new)
    return out


def _renamed_type(kind: T.DataType, fn: Callable[[str], str], path: str) -> T.DataType:
    """`kind` with the fields of each struct in it renamed; `path` names it in errors."""
    if isinstance(kind, T.StructType):
        names = _renamed([f.name for f in kind.fields], fn, path + ".")
        return T.StructType([T.StructField(new, _renamed_type(f.dataType, fn, path + "." + f.name), f.nullable,
                                           f.metadata) for new, f in zip(names, kind.fields)])
    if isinstance(kind, T.ArrayType):
        return T.ArrayType(_renamed_type(kind.elementType, fn, path + "[]"), kind.containsNull)
    if isinstance(kind, T.MapType):
        return T.MapType(_renamed_type(kind.keyType, fn, path + "{key}"),
                         _renamed_type(kind.valueType, fn, path + "{value}"), kind.valueContainsNull)
    return kind


def _quoted(name: str) -> str:
    """A column name as Spark reads it whatever it holds (dots, spaces, backticks)."""
    return "`%s`" % name.replace("`", "``")


def _type_name(obj: object) -> str:
    return type(obj).__name__
