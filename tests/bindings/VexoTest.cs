// The C# declarations and wrapper against the host build of the library (libVexoDLL.so), whose
// simulated card comes up with its registers at their power-on values: all 19 exports, the
// results checked against what that card holds. Exits 1 at the first failed check.
using System;
using System.Runtime.InteropServices;
using Vexo;

static class VexoTest
{
    static int checks;

    static void Check(bool condition, string what)
    {
        ++checks;
        if (condition) return;
        Console.WriteLine("FAILED: " + what);
        Environment.Exit(1);
    }

    static int[] Legacy()
    {
        return new int[] {
            VexoNative.cVexoBuffAlloc(), VexoNative.cVexoBuffFree(), VexoNative.cVexoReadBuffByte(),
            VexoNative.cVexoReadBuffShort(), VexoNative.cVexoReadBuffLong(),
            VexoNative.cVexoWriteBuffByte(), VexoNative.cVexoWriteBuffShort(),
            VexoNative.cVexoWriteBuffLong() };
    }

    static void WithoutCard()
    {
        VexoNative.cVexoClose();
        byte[] bytes = { 0xA5, 0xA5 };
        ushort[] shorts = { 0xA5A5 };
        uint[] longs = { 0xA5A5A5A5 };
        Check(VexoNative.cVexoReadBlockByte(0, bytes, 2) == 0 && bytes[0] == 0xA5, "read byte, no card");
        Check(VexoNative.cVexoReadBlockShort(0, shorts, 1) == 0 && shorts[0] == 0xA5A5, "read short, no card");
        Check(VexoNative.cVexoReadBlockLong(0, longs, 1) == 0 && longs[0] == 0xA5A5A5A5, "read long, no card");
        Check(VexoNative.cVexoWriteBlockByte(0, bytes, 2) == 0, "write byte, no card");
        Check(VexoNative.cVexoWriteBlockShort(0, shorts, 1) == 0, "write short, no card");
        Check(VexoNative.cVexoWriteBlockLong(0, longs, 1) == 0, "write long, no card");
        foreach (int result in Legacy()) Check(result == 0, "buffer function, no card");
        Check(VexoNative.cVexoGetINTA() == -1, "INTA, no card");
        DeviceInfo info;
        Check(VexoNative.cVexoDeviceInfo(out info) == 0, "device info, no card");
        Check(VexoNative.cVexoPciConfig() == 0, "PCI config, no card");
        Check(VexoNative.cVexoClose() == 0, "close, no card");
        bool threw = false;
        try { VexoCard.Open().Dispose(); VexoNative.cVexoClose(); } catch (VexoException) { threw = true; }
        Check(!threw, "the wrapper opens the card");
    }

    static void Queries(VexoCard card)
    {
        Check(Marshal.SizeOf(typeof(DeviceInfo)) == 28, "DeviceInfo is 28 bytes");
        Check(VexoNative.cVexoOpen() == 1, "open an open card");
        foreach (int result in Legacy()) Check(result == 1, "buffer function, card open");
        Check(card.GetInta() == 0, "INTA");
        DeviceInfo info = card.GetDeviceInfo();
        Check(info.DriverInfo == 0x00010203 && info.DeviceId == 0x2004 && info.VendorId == 0x10CF,
              "identity");
        Check(info.IntMemBase == 0xE9800000 && info.ExtMemBase == 0xE8000000 &&
              info.Io1Base == 0xD000 && info.Io2Base == 0xD400, "bases from the card's registers");
        Check(card.PciConfig() == 0x200410CF, "configuration word");
    }

    static void Transfers(VexoCard card)
    {
        // What cVexoOpen wrote into the set-up registers.
        uint[] setUp = new uint[1];
        card.Read(VexoCard.IoAddress(VexoCard.Io2Area, 0), setUp);
        Check(setUp[0] == 0x6B19D4A7, "set-up register of I/O range 2");
        ushort[] halves = new ushort[2];
        card.Read(VexoCard.IoAddress(VexoCard.Io1Area, 0xC4), halves);
        Check(halves[0] == 0x000E && halves[1] == 0, "set-up register of I/O range 1");

        // Written with one width, read with the others, in both memories.
        foreach (uint address in new uint[] { VexoCard.IntMemBlock1, VexoCard.ExtMemStart + 0x100 }) {
            card.Write(address, new uint[] { 0x44332211, 0x88776655 });
            byte[] bytes = new byte[8];
            card.Read(address, bytes);
            Check(bytes[0] == 0x11 && bytes[7] == 0x88, "bytes of written longs");
            card.Write(address + 2, new ushort[] { 0xBEEF });
            card.Write(address + 4, new byte[] { 0xAA });
            uint[] longs = new uint[2];
            card.Read(address, longs);
            Check(longs[0] == 0xBEEF2211 && longs[1] == 0x887766AA, "merged lanes");
        }

        byte[] nowhere = new byte[2];
        card.Read(0x100, nowhere);
        Check(nowhere[0] == 0xFF && nowhere[1] == 0xFF, "nowhere reads all ones");
        bool threw = false;
        try { card.Read(0x20000, nowhere); } catch (VexoException) { threw = true; }
        Check(threw, "a start outside the map throws");
    }

    static int Main()
    {
        WithoutCard();
        using (VexoCard card = VexoCard.Open()) {
            Queries(card);
            Transfers(card);
        }
        Check(VexoNative.cVexoBuffAlloc() == 0, "Dispose closed the card");
        Console.WriteLine("{0} checks passed", checks);
        return 0;
    }
}
