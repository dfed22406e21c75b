' Two scales in one script, late bound from VBScript: two objects on two COM
' ports, each mapped by the test fixtures to a simulated scale of its
' own (4800 baud even parity), with different weights:
'
'   cscript //nologo com_two_scales.vbs PORT_A PORT_B WEIGHT_A WEIGHT_B
'
' Prints one line per failed check, the time of one weighing, and
' "N passed, N failed" at the end; the exit code is the number of failed checks.
Option Explicit

Dim passed, failed
passed = 0
failed = 0

Sub Check(what, actual, expected)
    If actual = expected Then
        passed = passed + 1
    Else
        failed = failed + 1
        WScript.Echo "FAIL " & what & ": got [" & actual & "], expected [" & expected & "]"
    End If
End Sub

' One weighing: result 0 and the scale's own weight.
Sub Weigh(what, s, weight)
    Check what & " ReadWeight", s.ReadWeight, 0
    Check what & " Weight", s.Weight, weight
End Sub

Function Opened(text)
    Dim s
    Set s = CreateObject("OstrelPesolink.Scales")
    s.Connection = text
    Check text & " OpenConnection", s.OpenConnection, 0
    Check text & " BaudRate", s.BaudRate, 4800
    Set Opened = s
End Function

Dim args, portA, portB, weightA, weightB
Set args = WScript.Arguments
If args.Count <> 4 Then
    WScript.Echo "usage: cscript //nologo com_two_scales.vbs PORT_A PORT_B WEIGHT_A WEIGHT_B"
    WScript.Quit 2
End If
portA = args(0)
portB = args(1)
weightA = CLng(args(2))
weightB = CLng(args(3))

Dim a, b, c, i, t0
Set a = Opened(portA)
Set b = Opened(portB)

' ---- each object reads its own scale, interleaved
For i = 1 To 3
    Weigh "a", a, weightA
    Weigh "b", b, weightB
Next
t0 = Timer
a.ReadWeight
WScript.Echo "one weighing on " & portA & ": " & CLng((Timer - t0) * 1000) & " ms"

' ---- closing one leaves the other working; the closed one times out
Check "a CloseConnection", a.CloseConnection, 0
Weigh "b after a's close", b, weightB
Check "a ReadWeight after its close", a.ReadWeight, 2
Check "a OpenConnection again", a.OpenConnection, 0
Weigh "a reopened", a, weightA

' ---- releasing one leaves the other working
Set b = Nothing
Weigh "a after b's release", a, weightA

' ---- two objects on one port share it; closing one leaves the other
Set c = Opened(portA)
Weigh "c on a's port", c, weightA
Weigh "a beside c", a, weightA
Check "c CloseConnection", c.CloseConnection, 0
Weigh "a after c's close", a, weightA
Set c = Nothing
Weigh "a after c's release", a, weightA

' ---- an object moved to another port reads the new scale
Set b = Opened(portB)
Weigh "b", b, weightB
b.Connection = portA
Check "b moved OpenConnection", b.OpenConnection, 0
Weigh "b moved to " & portA, b, weightA
b.Connection = portB
Check "b back OpenConnection", b.OpenConnection, 0
Weigh "b back on " & portB, b, weightB
Weigh "a at the end", a, weightA

WScript.Echo "two-scales session: " & passed & " passed, " & failed & " failed"
WScript.Quit failed
