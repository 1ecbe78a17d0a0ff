// SQLGetInfo and SQLGetFunctions.
#include "odbc/info.h"

#include <cstring>
#include <string>

#include "odbc/text.h"

namespace odbc {

namespace {

enum class Kind { Text, Small, Word };
struct Info {
  SQLUSMALLINT id;
  Kind kind;
  const char* text;
  SQLUINTEGER value;
};

const Info kInfos[] = {
    {SQL_DRIVER_NAME, Kind::Text, "libtabulonix-odbc.so", 0},
    {SQL_DRIVER_VER, Kind::Text, "00.01.0000", 0},
    {SQL_DRIVER_ODBC_VER, Kind::Text, "03.51", 0},
    {SQL_DBMS_NAME, Kind::Text, "Tabulonix", 0},
    {SQL_DBMS_VER, Kind::Text, "00.01.0000", 0},
    {SQL_SERVER_NAME, Kind::Text, "", 0},
    {SQL_USER_NAME, Kind::Text, "", 0},
    {SQL_SEARCH_PATTERN_ESCAPE, Kind::Text, "\\", 0},
    {SQL_IDENTIFIER_QUOTE_CHAR, Kind::Text, "\"", 0},
    {SQL_CATALOG_NAME_SEPARATOR, Kind::Text, "", 0},
    {SQL_CATALOG_TERM, Kind::Text, "", 0},
    {SQL_CATALOG_NAME, Kind::Text, "N", 0},
    {SQL_SCHEMA_TERM, Kind::Text, "", 0},
    {SQL_TABLE_TERM, Kind::Text, "table", 0},
    {SQL_PROCEDURE_TERM, Kind::Text, "", 0},
    {SQL_ACCESSIBLE_TABLES, Kind::Text, "Y", 0},
    {SQL_ACCESSIBLE_PROCEDURES, Kind::Text, "N", 0},
    {SQL_COLUMN_ALIAS, Kind::Text, "Y", 0},
    {SQL_EXPRESSIONS_IN_ORDERBY, Kind::Text, "Y", 0},
    {SQL_LIKE_ESCAPE_CLAUSE, Kind::Text, "Y", 0},
    {SQL_MULT_RESULT_SETS, Kind::Text, "Y", 0},
    {SQL_MULTIPLE_ACTIVE_TXN, Kind::Text, "Y", 0},
    {SQL_NEED_LONG_DATA_LEN, Kind::Text, "N", 0},
    {SQL_ORDER_BY_COLUMNS_IN_SELECT, Kind::Text, "N", 0},
    {SQL_OUTER_JOINS, Kind::Text, "Y", 0},
    {SQL_PROCEDURES, Kind::Text, "N", 0},
    {SQL_ROW_UPDATES, Kind::Text, "N", 0},
    {SQL_INTEGRITY, Kind::Text, "N", 0},
    {SQL_MAX_ROW_SIZE_INCLUDES_LONG, Kind::Text, "Y", 0},
    {SQL_SPECIAL_CHARACTERS, Kind::Text, " ", 0},
    {SQL_KEYWORDS, Kind::Text, "", 0},
    {SQL_DESCRIBE_PARAMETER, Kind::Text, "Y", 0},
    {SQL_COLLATION_SEQ, Kind::Text, "", 0},
    {SQL_XOPEN_CLI_YEAR, Kind::Text, "1995", 0},
    {SQL_ODBC_SQL_OPT_IEF, Kind::Text, "N", 0},
    {SQL_MAX_DRIVER_CONNECTIONS, Kind::Small, nullptr, 0},
    {SQL_MAX_CONCURRENT_ACTIVITIES, Kind::Small, nullptr, 0},
    {SQL_MAX_COLUMN_NAME_LEN, Kind::Small, nullptr, 64},
    {SQL_MAX_TABLE_NAME_LEN, Kind::Small, nullptr, 64},
    {SQL_MAX_IDENTIFIER_LEN, Kind::Small, nullptr, 64},
    {SQL_MAX_CATALOG_NAME_LEN, Kind::Small, nullptr, 0},
    {SQL_MAX_SCHEMA_NAME_LEN, Kind::Small, nullptr, 0},
    {SQL_MAX_CURSOR_NAME_LEN, Kind::Small, nullptr, 0},
    {SQL_MAX_PROCEDURE_NAME_LEN, Kind::Small, nullptr, 0},
    {SQL_MAX_USER_NAME_LEN, Kind::Small, nullptr, 0},
    {SQL_MAX_COLUMNS_IN_GROUP_BY, Kind::Small, nullptr, 0},
    {SQL_MAX_COLUMNS_IN_INDEX, Kind::Small, nullptr, 10},
    {SQL_MAX_COLUMNS_IN_ORDER_BY, Kind::Small, nullptr, 0},
    {SQL_MAX_COLUMNS_IN_SELECT, Kind::Small, nullptr, 0},
    {SQL_MAX_COLUMNS_IN_TABLE, Kind::Small, nullptr, 255},
    {SQL_MAX_TABLES_IN_SELECT, Kind::Small, nullptr, 0},
    {SQL_TXN_CAPABLE, Kind::Small, nullptr, SQL_TC_DML},
    {SQL_CURSOR_COMMIT_BEHAVIOR, Kind::Small, nullptr, SQL_CB_CLOSE},
    {SQL_CURSOR_ROLLBACK_BEHAVIOR, Kind::Small, nullptr, SQL_CB_CLOSE},
    {SQL_NULL_COLLATION, Kind::Small, nullptr, SQL_NC_LOW},
    {SQL_IDENTIFIER_CASE, Kind::Small, nullptr, SQL_IC_MIXED},
    {SQL_QUOTED_IDENTIFIER_CASE, Kind::Small, nullptr, SQL_IC_MIXED},
    {SQL_CORRELATION_NAME, Kind::Small, nullptr, SQL_CN_ANY},
    {SQL_NON_NULLABLE_COLUMNS, Kind::Small, nullptr, SQL_NNC_NON_NULL},
    {SQL_FILE_USAGE, Kind::Small, nullptr, SQL_FILE_NOT_SUPPORTED},
    {SQL_GROUP_BY, Kind::Small, nullptr, SQL_GB_NO_RELATION},
    {SQL_CONCAT_NULL_BEHAVIOR, Kind::Small, nullptr, SQL_CB_NULL},
    {SQL_CATALOG_LOCATION, Kind::Small, nullptr, 0},
    {SQL_ACTIVE_ENVIRONMENTS, Kind::Small, nullptr, 0},
    {SQL_ODBC_API_CONFORMANCE, Kind::Small, nullptr, SQL_OAC_LEVEL1},
    {SQL_ODBC_SQL_CONFORMANCE, Kind::Small, nullptr, SQL_OSC_CORE},
    {SQL_GETDATA_EXTENSIONS, Kind::Word, nullptr, SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND},
    {SQL_SCROLL_OPTIONS, Kind::Word, nullptr, SQL_SO_FORWARD_ONLY},
    {SQL_SCROLL_CONCURRENCY, Kind::Word, nullptr, SQL_SCCO_READ_ONLY},
    {SQL_TXN_ISOLATION_OPTION, Kind::Word, nullptr, SQL_TXN_SERIALIZABLE},
    {SQL_DEFAULT_TXN_ISOLATION, Kind::Word, nullptr, SQL_TXN_SERIALIZABLE},
    {SQL_ODBC_INTERFACE_CONFORMANCE, Kind::Word, nullptr, SQL_OIC_CORE},
    {SQL_SQL_CONFORMANCE, Kind::Word, nullptr, SQL_SC_SQL92_ENTRY},
    {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1, Kind::Word, nullptr, SQL_CA1_NEXT},
    {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2, Kind::Word, nullptr,
     SQL_CA2_READ_ONLY_CONCURRENCY | SQL_CA2_MAX_ROWS_SELECT},
    {SQL_STATIC_CURSOR_ATTRIBUTES1, Kind::Word, nullptr, 0},
    {SQL_STATIC_CURSOR_ATTRIBUTES2, Kind::Word, nullptr, 0},
    {SQL_KEYSET_CURSOR_ATTRIBUTES1, Kind::Word, nullptr, 0},
    {SQL_KEYSET_CURSOR_ATTRIBUTES2, Kind::Word, nullptr, 0},
    {SQL_DYNAMIC_CURSOR_ATTRIBUTES1, Kind::Word, nullptr, 0},
    {SQL_DYNAMIC_CURSOR_ATTRIBUTES2, Kind::Word, nullptr, 0},
    {SQL_CURSOR_SENSITIVITY, Kind::Word, nullptr, SQL_UNSPECIFIED},
    {SQL_BATCH_SUPPORT, Kind::Word, nullptr, SQL_BS_SELECT_EXPLICIT | SQL_BS_ROW_COUNT_EXPLICIT},
    {SQL_BATCH_ROW_COUNT, Kind::Word, nullptr, SQL_BRC_EXPLICIT},
    {SQL_PARAM_ARRAY_ROW_COUNTS, Kind::Word, nullptr, SQL_PARC_NO_BATCH},
    {SQL_PARAM_ARRAY_SELECTS, Kind::Word, nullptr, SQL_PAS_NO_SELECT},
    {SQL_DATETIME_LITERALS, Kind::Word, nullptr, SQL_DL_SQL92_DATE | SQL_DL_SQL92_TIME | SQL_DL_SQL92_TIMESTAMP},
    {SQL_OJ_CAPABILITIES, Kind::Word, nullptr,
     SQL_OJ_LEFT | SQL_OJ_RIGHT | SQL_OJ_FULL | SQL_OJ_NESTED | SQL_OJ_NOT_ORDERED | SQL_OJ_INNER |
         SQL_OJ_ALL_COMPARISON_OPS},
    {SQL_SQL92_RELATIONAL_JOIN_OPERATORS, Kind::Word, nullptr,
     SQL_SRJO_CROSS_JOIN | SQL_SRJO_INNER_JOIN | SQL_SRJO_LEFT_OUTER_JOIN | SQL_SRJO_RIGHT_OUTER_JOIN |
         SQL_SRJO_FULL_OUTER_JOIN | SQL_SRJO_NATURAL_JOIN | SQL_SRJO_EXCEPT_JOIN | SQL_SRJO_INTERSECT_JOIN},
    {SQL_SUBQUERIES, Kind::Word, nullptr,
     SQL_SQ_COMPARISON | SQL_SQ_EXISTS | SQL_SQ_IN | SQL_SQ_QUANTIFIED | SQL_SQ_CORRELATED_SUBQUERIES},
    {SQL_UNION, Kind::Word, nullptr, SQL_U_UNION | SQL_U_UNION_ALL},
    {SQL_AGGREGATE_FUNCTIONS, Kind::Word, nullptr,
     SQL_AF_ALL | SQL_AF_AVG | SQL_AF_COUNT | SQL_AF_DISTINCT | SQL_AF_MAX | SQL_AF_MIN | SQL_AF_SUM},
    {SQL_SQL92_PREDICATES, Kind::Word, nullptr,
     SQL_SP_BETWEEN | SQL_SP_COMPARISON | SQL_SP_EXISTS | SQL_SP_IN | SQL_SP_ISNOTNULL | SQL_SP_ISNULL | SQL_SP_LIKE},
    {SQL_INSERT_STATEMENT, Kind::Word, nullptr, SQL_IS_INSERT_LITERALS | SQL_IS_INSERT_SEARCHED},
    {SQL_STRING_FUNCTIONS, Kind::Word, nullptr,
     SQL_FN_STR_LENGTH | SQL_FN_STR_LTRIM | SQL_FN_STR_RTRIM | SQL_FN_STR_SUBSTRING | SQL_FN_STR_REPLACE |
         SQL_FN_STR_CHAR},
    {SQL_NUMERIC_FUNCTIONS, Kind::Word, nullptr, SQL_FN_NUM_ABS | SQL_FN_NUM_ROUND},
    {SQL_TIMEDATE_FUNCTIONS, Kind::Word, nullptr, 0},
    {SQL_SYSTEM_FUNCTIONS, Kind::Word, nullptr, SQL_FN_SYS_IFNULL},
    {SQL_CONVERT_FUNCTIONS, Kind::Word, nullptr, SQL_FN_CVT_CAST},
    {SQL_CATALOG_USAGE, Kind::Word, nullptr, 0},
    {SQL_SCHEMA_USAGE, Kind::Word, nullptr, 0},
    {SQL_MAX_STATEMENT_LEN, Kind::Word, nullptr, 0},
    {SQL_MAX_ROW_SIZE, Kind::Word, nullptr, 0},
    {SQL_MAX_INDEX_SIZE, Kind::Word, nullptr, 0},
    {SQL_MAX_BINARY_LITERAL_LEN, Kind::Word, nullptr, 0},
    {SQL_MAX_CHAR_LITERAL_LEN, Kind::Word, nullptr, 0},
    {SQL_ASYNC_MODE, Kind::Word, nullptr, SQL_AM_NONE},
    {SQL_MAX_ASYNC_CONCURRENT_STATEMENTS, Kind::Word, nullptr, 0},
    {SQL_POS_OPERATIONS, Kind::Word, nullptr, 0},
    {SQL_BOOKMARK_PERSISTENCE, Kind::Word, nullptr, 0},
    {SQL_STATIC_SENSITIVITY, Kind::Word, nullptr, 0},
    {SQL_LOCK_TYPES, Kind::Word, nullptr, 0},
    {SQL_ALTER_TABLE, Kind::Word, nullptr, 0},
    {SQL_INFO_SCHEMA_VIEWS, Kind::Word, nullptr, 0},
    {SQL_TIMEDATE_ADD_INTERVALS, Kind::Word, nullptr, 0},
    {SQL_TIMEDATE_DIFF_INTERVALS, Kind::Word, nullptr, 0},
    {SQL_CREATE_TABLE, Kind::Word, nullptr, 0},
    {SQL_CREATE_VIEW, Kind::Word, nullptr, 0},
    {SQL_DROP_TABLE, Kind::Word, nullptr, 0},
    {SQL_DROP_VIEW, Kind::Word, nullptr, 0},
    {SQL_DDL_INDEX, Kind::Word, nullptr, 0},
    {SQL_INDEX_KEYWORDS, Kind::Word, nullptr, SQL_IK_NONE},
    {SQL_SQL92_DATETIME_FUNCTIONS, Kind::Word, nullptr, 0},
    {SQL_SQL92_STRING_FUNCTIONS, Kind::Word, nullptr, 0},
    {SQL_SQL92_NUMERIC_VALUE_FUNCTIONS, Kind::Word, nullptr, 0},
    {SQL_SQL92_VALUE_EXPRESSIONS, Kind::Word, nullptr, SQL_SVE_CASE | SQL_SVE_CAST | SQL_SVE_COALESCE | SQL_SVE_NULLIF},
    {SQL_SQL92_ROW_VALUE_CONSTRUCTOR, Kind::Word, nullptr, 0},
    {SQL_SQL92_GRANT, Kind::Word, nullptr, 0},
    {SQL_SQL92_REVOKE, Kind::Word, nullptr, 0},
    {SQL_SQL92_FOREIGN_KEY_DELETE_RULE, Kind::Word, nullptr, 0},
    {SQL_SQL92_FOREIGN_KEY_UPDATE_RULE, Kind::Word, nullptr, 0},
    {SQL_STANDARD_CLI_CONFORMANCE, Kind::Word, nullptr, 0},
    {SQL_ASYNC_DBC_FUNCTIONS, Kind::Word, nullptr, SQL_ASYNC_DBC_NOT_CAPABLE},
    {SQL_CONVERT_BIGINT, Kind::Word, nullptr, 0},
    {SQL_CONVERT_BINARY, Kind::Word, nullptr, 0},
    {SQL_CONVERT_BIT, Kind::Word, nullptr, 0},
    {SQL_CONVERT_CHAR, Kind::Word, nullptr, 0},
    {SQL_CONVERT_DATE, Kind::Word, nullptr, 0},
    {SQL_CONVERT_DECIMAL, Kind::Word, nullptr, 0},
    {SQL_CONVERT_DOUBLE, Kind::Word, nullptr, 0},
    {SQL_CONVERT_FLOAT, Kind::Word, nullptr, 0},
    {SQL_CONVERT_INTEGER, Kind::Word, nullptr, 0},
    {SQL_CONVERT_LONGVARCHAR, Kind::Word, nullptr, 0},
    {SQL_CONVERT_NUMERIC, Kind::Word, nullptr, 0},
    {SQL_CONVERT_REAL, Kind::Word, nullptr, 0},
    {SQL_CONVERT_SMALLINT, Kind::Word, nullptr, 0},
    {SQL_CONVERT_TIME, Kind::Word, nullptr, 0},
    {SQL_CONVERT_TIMESTAMP, Kind::Word, nullptr, 0},
    {SQL_CONVERT_TINYINT, Kind::Word, nullptr, 0},
    {SQL_CONVERT_VARBINARY, Kind::Word, nullptr, 0},
    {SQL_CONVERT_VARCHAR, Kind::Word, nullptr, 0},
    {SQL_CONVERT_LONGVARBINARY, Kind::Word, nullptr, 0},
    {SQL_CONVERT_WCHAR, Kind::Word, nullptr, 0},
    {SQL_CONVERT_WVARCHAR, Kind::Word, nullptr, 0},
    {SQL_CONVERT_WLONGVARCHAR, Kind::Word, nullptr, 0},
    {SQL_CONVERT_GUID, Kind::Word, nullptr, 0},
};

const SQLUSMALLINT kFunctions[] = {
    SQL_API_SQLALLOCHANDLE,     SQL_API_SQLFREEHANDLE,     SQL_API_SQLALLOCCONNECT,  SQL_API_SQLALLOCENV,
    SQL_API_SQLALLOCSTMT,       SQL_API_SQLFREECONNECT,    SQL_API_SQLFREEENV,       SQL_API_SQLFREESTMT,
    SQL_API_SQLSETENVATTR,      SQL_API_SQLGETENVATTR,     SQL_API_SQLCONNECT,       SQL_API_SQLDRIVERCONNECT,
    SQL_API_SQLDISCONNECT,      SQL_API_SQLGETINFO,        SQL_API_SQLSETCONNECTATTR, SQL_API_SQLGETCONNECTATTR,
    SQL_API_SQLSETSTMTATTR,     SQL_API_SQLGETSTMTATTR,    SQL_API_SQLEXECDIRECT,    SQL_API_SQLPREPARE,
    SQL_API_SQLEXECUTE,         SQL_API_SQLBINDPARAMETER,  SQL_API_SQLNUMPARAMS,     SQL_API_SQLDESCRIBEPARAM,
    SQL_API_SQLFETCH,           SQL_API_SQLFETCHSCROLL,    SQL_API_SQLBINDCOL,       SQL_API_SQLGETDATA,
    SQL_API_SQLNUMRESULTCOLS,   SQL_API_SQLDESCRIBECOL,    SQL_API_SQLCOLATTRIBUTE,  SQL_API_SQLROWCOUNT,
    SQL_API_SQLMORERESULTS,     SQL_API_SQLCLOSECURSOR,    SQL_API_SQLCANCEL,        SQL_API_SQLENDTRAN,
    SQL_API_SQLGETDIAGREC,      SQL_API_SQLGETDIAGFIELD,   SQL_API_SQLGETFUNCTIONS,  SQL_API_SQLNATIVESQL,
    SQL_API_SQLTABLES,          SQL_API_SQLCOLUMNS,        SQL_API_SQLPRIMARYKEYS,   SQL_API_SQLSTATISTICS,
    SQL_API_SQLFOREIGNKEYS,     SQL_API_SQLGETTYPEINFO,    SQL_API_SQLSPECIALCOLUMNS, SQL_API_SQLPROCEDURES,
    SQL_API_SQLPARAMDATA,       SQL_API_SQLPUTDATA,
};

}  // namespace

SQLRETURN getInfo(Dbc& dbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT bufferLength, SQLSMALLINT* length,
                  bool wide) {
  auto text = [&](const std::string& s) {
    if (textOut(s, value, bufferLength, wide, true, length)) return static_cast<SQLRETURN>(SQL_SUCCESS);
    return dbc.diag.add("01004", "String data, right truncated");
  };
  switch (type) {
    case SQL_DATA_SOURCE_NAME: return text(dbc.dsn);
    case SQL_DATABASE_NAME: return text(dbc.path);
    case SQL_DATA_SOURCE_READ_ONLY: return text(dbc.readOnly ? "Y" : "N");
    default: break;
  }
  for (const Info& i : kInfos) {
    if (i.id != type) continue;
    switch (i.kind) {
      case Kind::Text: return text(i.text);
      case Kind::Small:
        if (value) *static_cast<SQLUSMALLINT*>(value) = static_cast<SQLUSMALLINT>(i.value);
        if (length) *length = sizeof(SQLUSMALLINT);
        return SQL_SUCCESS;
      case Kind::Word:
        if (value) *static_cast<SQLUINTEGER*>(value) = i.value;
        if (length) *length = sizeof(SQLUINTEGER);
        return SQL_SUCCESS;
    }
  }
  return dbc.diag.add("HY096", "Information type out of range: " + std::to_string(type));
}

SQLRETURN getFunctions(SQLUSMALLINT function, SQLUSMALLINT* supported) {
  if (!supported) return SQL_SUCCESS;
  if (function == SQL_API_ODBC3_ALL_FUNCTIONS) {
    std::memset(supported, 0, sizeof(SQLUSMALLINT) * SQL_API_ODBC3_ALL_FUNCTIONS_SIZE);
    for (SQLUSMALLINT f : kFunctions) supported[f >> 4] |= static_cast<SQLUSMALLINT>(1 << (f & 0xF));
    return SQL_SUCCESS;
  }
  if (function == SQL_API_ALL_FUNCTIONS) {
    std::memset(supported, 0, sizeof(SQLUSMALLINT) * 100);
    for (SQLUSMALLINT f : kFunctions)
      if (f < 100) supported[f] = SQL_TRUE;
    return SQL_SUCCESS;
  }
  *supported = SQL_FALSE;
  for (SQLUSMALLINT f : kFunctions)
    if (f == function) *supported = SQL_TRUE;
  return SQL_SUCCESS;
}

}  // namespace odbc
