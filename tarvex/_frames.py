"""pandas bridges: binout channels, keyword columns and validation findings as
DataFrames.

pandas is optional: it is imported on the first call, and its absence raises
ImportError naming the ``pandas`` extra (``pip install 'tarvex[pandas]'``).
The numeric data go to pandas as whole NumPy arrays; no value becomes a
Python object on the way.
"""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from typing import TYPE_CHECKING, Any, Literal

import numpy as np

if TYPE_CHECKING:
    import pandas

    import _tarvex


def _pandas(what: str) -> Any:
    try:
        import pandas
    except ImportError as e:
        raise ImportError(
            f"{what} needs pandas, an optional dependency of tarvex: pip install 'tarvex[pandas]'"
        ) from e
    return pandas


def _first_positions(all_ids: np.ndarray, wanted: np.ndarray) -> np.ndarray:
    """The position of the first occurrence of each wanted id in all_ids
    (every wanted id is known to be present)."""
    uniq, first = np.unique(all_ids, return_index=True)
    return first[np.searchsorted(uniq, wanted)]


def binout_to_frame(
    self: _tarvex.Binout,
    branch: str | Sequence[str],
    var: str,
    *,
    id: int | None = None,
    ids: Sequence[int] | None = None,
    name: str | None = None,
    names: Sequence[str] | None = None,
    labels: Literal["id", "name"] = "id",
) -> pandas.DataFrame:
    """One variable of a binout branch over its states as a pandas DataFrame.

    The index is the state time (named "time"); there is one float64 column
    per entity, in the branch's order or in the order of the selection (id,
    ids, name or names select as in ``read_states``).  The branch is any
    depth: "nodout", "elout/shell" or a sequence of segments.

    ``labels="id"`` (default) labels the columns with the entity ids (an
    int64 column index named "id"), ``labels="name"`` with the legend names
    (named "name").  When the branch has no id (or name) per column, a
    variable of one value per state is labelled with the variable's name and
    wider ones with their column positions 0 .. M-1 (named "column").

    The values are the float64 array that ``read_states`` builds, handed to
    pandas as a whole.  Raises what ``read_states`` raises, ValueError for
    another ``labels``, ImportError when pandas is absent.
    """
    pd = _pandas("Binout.to_frame")
    if labels not in ("id", "name"):
        raise ValueError(f"labels must be 'id' or 'name', not {labels!r}")
    d = self.read_states(branch, var, id=id, ids=ids, name=name, names=names)
    values = np.asarray(d["values"])
    if values.ndim == 1:
        values = values.reshape(-1, 1)
    selected = not (id is None and ids is None and name is None and names is None)
    n = values.shape[1]
    columns: Any
    if labels == "id":
        keys = np.asarray(d["ids"])
    elif selected and (name is not None or names is not None):
        keys = np.asarray([name] if name is not None else list(names or []), dtype=object)
    else:
        try:
            keys = np.asarray(self.legend(branch), dtype=object)
        except KeyError:  # no legend: labelled by position
            keys = np.asarray([], dtype=object)
        if selected and len(keys):
            at = _first_positions(np.asarray(self.ids(branch)), np.asarray(d["ids"]))
            keys = keys[at] if at.size == 0 or at.max() < len(keys) else np.asarray([], dtype=object)
    if len(keys) == n:
        columns = pd.Index(keys, name=labels)
    elif n == 1:
        columns = pd.Index([var], name="column")
    else:
        columns = pd.RangeIndex(n, name="column")
    index = pd.Index(np.asarray(d["time"]), name="time")
    return pd.DataFrame(values, index=index, columns=columns, copy=False)


def table_to_frame(columns: Mapping[str, Any]) -> pandas.DataFrame:
    """A dict of keyword columns (``Deck.table``, ``Deck.table_with``,
    ``KeywordFile.parse_builtin``, ``KeywordFile.parse_schema``) as a pandas
    DataFrame with one row per record.

    1-D arrays and lists of str become one column each, in the dict's order.
    A field with several values per row (a 2-D array of shape (rows, k), or
    a list of rows of k str) is split into k columns named name_1 .. name_k
    (numbered from 1, as the solver's manuals number repeated fields).
    Numeric columns keep their dtype (int64, float64) and are views of the
    arrays, not copies.  Raises ImportError when pandas is absent, ValueError
    when the columns have different numbers of rows or a split name is
    already a column ("column 'n_1' would occur twice").
    """
    pd = _pandas("table_to_frame")
    data: dict[str, Any] = {}
    rows: set[int] = set()

    def put(name: str, values: Any) -> None:
        if name in data:
            raise ValueError(f"column {name!r} would occur twice")
        data[name] = values

    for key, col in columns.items():
        if isinstance(col, np.ndarray) and col.ndim == 2:
            rows.add(col.shape[0])
            for j in range(col.shape[1]):
                put(f"{key}_{j + 1}", col[:, j])
        elif isinstance(col, list) and col and isinstance(col[0], list):
            rows.add(len(col))
            width = max(len(r) for r in col)
            for j in range(width):
                put(f"{key}_{j + 1}", [r[j] if j < len(r) else "" for r in col])
        else:
            rows.add(len(col))
            put(key, col)
    if len(rows) > 1:
        raise ValueError(f"columns of different lengths: {sorted(rows)}")
    return pd.DataFrame(data, copy=False)


def report_to_frame(self: _tarvex.Report) -> pandas.DataFrame:
    """The findings of a report as a pandas DataFrame, one row per finding in
    report order, with the columns rule, severity, file, line, keyword and
    message.

    severity is a categorical of the names "Error", "Warning", "Info" (in
    that order, so sorting puts errors first); line is int64 (0 where a
    check has no line).  Raises ImportError when pandas is absent.
    """
    pd = _pandas("Report.to_frame")
    findings = self.findings
    severity_names = ["Error", "Warning", "Info"]
    return pd.DataFrame({
        "rule": pd.Series([f.rule for f in findings], dtype=object),
        "severity": pd.Categorical.from_codes(
            np.fromiter((int(f.severity) for f in findings), np.int8, len(findings)),
            categories=severity_names, ordered=True),
        "file": pd.Series([f.file for f in findings], dtype=object),
        "line": np.fromiter((f.line for f in findings), np.int64, len(findings)),
        "keyword": pd.Series([f.keyword for f in findings], dtype=object),
        "message": pd.Series([f.message for f in findings], dtype=object),
    })
