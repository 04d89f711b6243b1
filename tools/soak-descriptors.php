<?php
// The soak's descriptor invariant, on its own so that recorded samples can be checked by a test
// (tests/tools/soak_descriptors_test.php).
//
// A sample is [seconds, resident KB, open descriptors, busy]; busy is 1 while a request is in
// flight (get.tmp open), which holds the reply file and its socket open for up to 30 s.  Only
// quiet samples are compared, the median of the last tenth against the ceiling of the first: a
// descriptor opened once and kept (Qt's event notifier after the first request) or one held for
// a moment does not count, a descriptor lost per event, per fault or per reconnect raises the
// median.  Returns the two figures and the verdict.
function soakDescriptorGrowth(array $samples, int $slack = 2): array {
    $quiet = array_values(array_filter($samples, fn($s) => ($s[3] ?? 0) == 0));
    // A run that was busy nearly all the time still gets a verdict, from every sample.
    if (count($quiet) < 6) $quiet = $samples;
    if (count($quiet) == 0) return ["fd0" => 0, "fd1" => 0, "grew" => false];
    $k = max(3, intdiv(count($quiet), 10));
    $fd0 = max(array_column(array_slice($quiet, 0, $k), 2));
    $last = array_column(array_slice($quiet, -$k), 2);
    sort($last);
    $fd1 = $last[intdiv(count($last), 2)];
    return ["fd0" => $fd0, "fd1" => $fd1, "grew" => $fd1 > $fd0 + $slack];
}
