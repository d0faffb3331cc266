Attribute VB_Name = "Example"
' Example.bas - opens the VexoLite card, shows what it reports, and writes a pattern into
' internal memory block 1 and reads it back.
'
' Make a Standard EXE project, remove its form, add Vexo.bas and this module, and choose
' Sub Main as the Startup Object (Project, Properties). Put VexoVB.dll and VexoDLL.dll beside
' the program.
Option Explicit

Sub Main()
    Dim Info As DeviceInfo
    Dim Pattern(0 To 15) As Byte
    Dim Back(0 To 15) As Byte
    Dim I As Long
    Dim Report As String

    If cVexoOpen() = 0 Then
        MsgBox "Cannot open the VexoLite card. Run vexotool info to see why.", vbCritical
        Exit Sub
    End If

    If cVexoDeviceInfo(Info) = 1 Then
        Report = "Device " & Hex$(Info.deviceId) & ", vendor " & Hex$(Info.vendorId) & vbCrLf & _
                 "Internal memory at " & Hex$(Info.intMemBase) & ", external memory at " & _
                 Hex$(Info.extMemBase) & vbCrLf & _
                 "I/O ranges at " & Hex$(Info.io1Base) & " and " & Hex$(Info.io2Base) & vbCrLf
    End If

    For I = 0 To 15
        Pattern(I) = I * 16 + (15 - I)
    Next I
    If cVexoWriteBlockByte(VEXO_INTMEM_BLOCK1, Pattern(0), 16) = 0 Or _
       cVexoReadBlockByte(VEXO_INTMEM_BLOCK1, Back(0), 16) = 0 Then
        Report = Report & "The transfer failed."
    Else
        For I = 0 To 15
            If Back(I) <> Pattern(I) Then Exit For
        Next I
        If I = 16 Then
            Report = Report & "The pattern read back correctly."
        Else
            Report = Report & "Byte " & I & " read back as " & Hex$(Back(I)) & "."
        End If
    End If

    cVexoClose
    MsgBox Report
End Sub
