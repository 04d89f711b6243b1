<?php
// The soak's descriptor invariant over recorded samples: a healthy run passes whatever its
// requests hold open for a while, a leaking one fails.  Samples are "seconds:descriptors:busy".
require __DIR__ . "/../../tools/soak-descriptors.php";

function samples(string $recorded): array {
    return array_map(function ($s) {
        [$t, $fds, $busy] = array_map("intval", explode(":", $s));
        return [$t, 30000, $fds, $busy];
    }, preg_split("/\\s+/", trim($recorded)));
}

// Every descriptor held from the n-th sample on goes one up every `every` samples.
function leaking(array $samples, int $every): array {
    foreach ($samples as $i => &$s) $s[2] += intdiv($i, $every);
    return $samples;
}

// Two instances of a short soak that held every invariant: Qt's event notifier appears after the
// first request and stays, the 35 s stall keeps a request (reply file and socket) open for the
// last part of the run, the bridge restarted after its device vanished.
$healthy0 = samples("0:14:0 2:15:0 4:15:0 6:15:0 8:15:0 10:15:0 12:17:1 14:15:0 16:15:0 18:15:0 20:15:0 22:15:0 24:15:0 26:15:0 28:15:0 30:15:0 32:16:0 34:16:0 36:16:0 38:16:0 40:16:0 42:16:0 44:16:0 46:16:0 48:16:0 50:16:0 52:17:0 54:17:0 56:17:0 58:17:0 60:16:0 62:18:1 64:18:1 66:18:1 68:18:1 70:18:1 72:18:1 76:18:1 78:18:1 80:18:1 82:18:1 84:18:1 86:18:1 88:18:1 90:16:0 92:16:0 94:18:1 96:16:0 98:16:0 100:16:0 104:14:0 106:15:0 108:15:0 110:15:0 112:12:0");
$healthy1 = samples("0:7:0 2:15:0 4:15:0 6:15:0 8:15:0 10:15:0 12:15:1 14:15:0 16:15:0 18:15:0 20:15:0 22:15:0 24:16:0 26:16:0 28:16:0 30:16:0 32:15:0 34:17:1 36:17:1 38:17:1 40:17:1 42:17:1 44:17:1 46:17:1 48:17:1 50:17:1 52:17:1 54:17:1 56:17:1 58:17:1 60:17:1 62:17:1 64:15:0 66:17:1 68:17:1 70:15:0 72:15:0 76:7:0 78:15:0 80:15:0 82:15:0 84:17:1 86:17:1 88:15:0 90:15:0 92:15:0 94:15:0 96:15:0 98:15:0 100:15:0 104:15:0 106:16:0 108:18:1 110:16:0 112:13:0");
// The run that failed the old invariant: the stall's request in flight over the whole last tenth.
$stallAtEnd = samples(implode(" ", array_merge(
    array_map(fn($t) => "$t:15:0", range(0, 18, 2)),
    array_map(fn($t) => "$t:16:0", range(20, 88, 2)),
    array_map(fn($t) => "$t:18:1", range(90, 112, 2)))));

$rows = [
    ["a healthy run passes", $healthy0, false],
    ["a healthy run with a restart passes", $healthy1, false],
    ["a request in flight at the end is no leak", $stallAtEnd, false],
    ["one descriptor lost every 8 samples fails", leaking($healthy0, 8), true],
    ["one descriptor lost every 12 samples fails", leaking($healthy1, 12), true],
    ["a leak hidden under busy samples fails", leaking($stallAtEnd, 10), true],
];
$failed = 0;
foreach ($rows as [$name, $samples, $grows]) {
    $r = soakDescriptorGrowth($samples);
    $ok = $r["grew"] === $grows;
    if (!$ok) $failed++;
    printf("%s %s (quiet %d -> %d)\n", $ok ? "ok  " : "FAIL", $name, $r["fd0"], $r["fd1"]);
}
printf("%d passed, %d failed\n", count($rows) - $failed, $failed);
exit($failed ? 1 : 0);
