// Opens the card, shows what it reports, and writes and reads back a pattern in the first block
// of internal memory and in the first words of external memory.
//
//   csc /platform:x86 Example.cs Vexo.cs      then run Example.exe beside VexoDLL.dll
using System;
using Vexo;

static class Example
{
    static int Main()
    {
        try {
            bool ok;
            using (VexoCard card = VexoCard.Open()) {
                DeviceInfo info = card.GetDeviceInfo();
                Console.WriteLine(
                    "card {0:X4}:{1:X4}, internal memory at 0x{2:X8}, external at 0x{3:X8}, I/O at 0x{4:X} and 0x{5:X}",
                    info.VendorId, info.DeviceId, info.IntMemBase, info.ExtMemBase, info.Io1Base,
                    info.Io2Base);

                byte[] pattern = new byte[VexoCard.IntMemBlockSize];
                for (int k = 0; k < pattern.Length; ++k) pattern[k] = (byte)k;
                card.Write(VexoCard.IntMemBlock0, pattern);
                byte[] back = new byte[pattern.Length];
                card.Read(VexoCard.IntMemBlock0, back);
                ok = Same(pattern, back);

                uint[] words = { 0x12345678, 0x9ABCDEF0, 0x0F1E2D3C, 0x4B5A6978 };
                card.Write(VexoCard.ExtMemStart, words);
                uint[] wordsBack = new uint[words.Length];
                card.Read(VexoCard.ExtMemStart, wordsBack);
                ok = ok && Same(words, wordsBack);
            }
            Console.WriteLine(ok ? "Both patterns read back correctly" : "A pattern did NOT read back");
            return ok ? 0 : 1;
        } catch (VexoException e) {
            Console.WriteLine("Failed: " + e.Message);
            return 1;
        }
    }

    static bool Same(Array a, Array b)
    {
        if (a.Length != b.Length) return false;
        for (int k = 0; k < a.Length; ++k)
            if (!a.GetValue(k).Equals(b.GetValue(k))) return false;
        return true;
    }
}
