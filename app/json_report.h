#ifndef SNAPRESERVE_APP_JSON_REPORT_H_
#define SNAPRESERVE_APP_JSON_REPORT_H_

/// --json --show and --json --check: the same run as --show or --check, but
/// standard output carries one JSON document (app/report.schema.json) and
/// nothing else. The lines the run would print go into the document; what
/// the programs it starts print goes to standard error. The document is
/// ASCII: every other character, and every control character, as a \u
/// escape. Each returns the status it reports in the document.
int ReportShowAsJson();
int ReportCheckAsJson(int percentage);

#endif  // SNAPRESERVE_APP_JSON_REPORT_H_
