// Times ReadWeight and GetWiFi on one serial connection through the
// driver's automation interface: median, least and most of COUNT calls of
// each, in milliseconds, and how many did not give 0.
//
//   cscript //nologo serial_timing.js COM5 [COUNT]
var args = WScript.Arguments;
var count = args.length > 1 ? parseInt(args(1), 10) : 9;
var scales = new ActiveXObject("OstrelPesolink.Scales");
scales.Connection = args(0);
var opened = scales.OpenConnection();
if (opened !== 0) {
    WScript.Echo("OpenConnection: result " + opened);
    WScript.Quit(1);
}
WScript.Echo("line " + scales.BaudRate + " parity " + scales.Parity);

function time(name, call) {
    var times = [], failed = 0;
    for (var i = 0; i < count; i++) {
        var start = new Date().getTime();
        if (call() !== 0) failed++;
        times.push(new Date().getTime() - start);
    }
    times.sort(function (a, b) { return a - b; });
    WScript.Echo(name + " median " + times[Math.floor(count / 2)] + " min " + times[0] + " max " +
                 times[count - 1] + " failed " + failed);
}

time("ReadWeight", function () { return scales.ReadWeight(); });
time("GetWiFi", function () { return scales.GetWiFi(); });
scales.CloseConnection();
