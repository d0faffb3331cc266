// The VexoLite PCI card from C# and VB.NET: P/Invoke declarations of VexoDLL.dll's 19 functions
// (VexoNative) and a small wrapper that opens and closes the card (VexoCard).
//
//   using (VexoCard card = VexoCard.Open()) {
//       DeviceInfo info = card.GetDeviceInfo();
//       card.Write(VexoCard.IntMemBlock0, new byte[] { 0x12, 0x34 });
//       byte[] back = new byte[2];
//       card.Read(VexoCard.IntMemBlock0, back);
//   }
//
// VexoDLL.dll is a 32-bit DLL: build the application for x86 (csc /platform:x86, or
// <PlatformTarget>x86</PlatformTarget>). An AnyCPU program runs as a 64-bit process on 64-bit
// Windows and cannot load it (BadImageFormatException). Every function is cdecl: without
// CallingConvention.Cdecl the runtime would take them for stdcall and unbalance the stack.
// The library serves one thread at a time and keeps one open card per process.
// Written in C# 2.0, the language of .NET Framework 2.0, the last that installs on Windows 98.
using System;
using System.Runtime.InteropServices;

namespace Vexo
{
    /// <summary>What cVexoDeviceInfo fills: seven 32-bit values, 28 bytes.</summary>
    [StructLayout(LayoutKind.Sequential)]
    public struct DeviceInfo
    {
        public uint DriverInfo;  // the driver's information word
        public uint DeviceId;    // 0x2004
        public uint VendorId;    // 0x10CF
        public uint IntMemBase;  // PCI bus address of the internal memory
        public uint ExtMemBase;  // PCI bus address of the external memory
        public uint Io1Base;     // first port of I/O range 1
        public uint Io2Base;     // first port of I/O range 2
    }

    /// <summary>The library's exports as they are: 1 for success, 0 for failure (see the
    /// reference for cVexoGetINTA and cVexoPciConfig). Buffers hold `count` elements.</summary>
    public static class VexoNative
    {
        // "VexoDLL" finds VexoDLL.dll on Windows (and libVexoDLL.so under Mono elsewhere).
        public const string Library = "VexoDLL";

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int cVexoReadBlockByte(uint address, [Out] byte[] buffer, uint count);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int cVexoReadBlockShort(uint address, [Out] ushort[] buffer, uint count);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int cVexoReadBlockLong(uint address, [Out] uint[] buffer, uint count);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int cVexoWriteBlockByte(uint address, [In] byte[] buffer, uint count);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int cVexoWriteBlockShort(uint address, [In] ushort[] buffer, uint count);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int cVexoWriteBlockLong(uint address, [In] uint[] buffer, uint count);

        // Kept for older applications: each reports only whether a card is open (1) or not (0).
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int cVexoBuffAlloc();
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int cVexoBuffFree();
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int cVexoReadBuffByte();
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int cVexoReadBuffShort();
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int cVexoReadBuffLong();
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int cVexoWriteBuffByte();
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int cVexoWriteBuffShort();
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int cVexoWriteBuffLong();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int cVexoOpen();
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int cVexoClose();
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int cVexoGetINTA();
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int cVexoDeviceInfo(out DeviceInfo info);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int cVexoPciConfig();
    }

    /// <summary>A library function reported failure.</summary>
    public class VexoException : Exception
    {
        public VexoException(string message) : base(message) { }
    }

    /// <summary>The open card: VexoCard.Open() opens it, Dispose() closes it. Each Read and
    /// Write moves whole arrays, the element type choosing the width: byte[] 8 bits, ushort[]
    /// 16 bits, uint[] 32 bits.</summary>
    public sealed class VexoCard : IDisposable
    {
        // The board address map (VexoDLL.h).
        public const uint IntMemBlock0 = 0x00000000;
        public const uint IntMemBlock1 = 0x00008000;
        public const uint IntMemBlock2 = 0x0000C000;
        public const uint IntMemBlockSize = 0x100;
        public const uint Io1Area = 0x00010000;
        public const uint Io2Area = 0x00010200;
        public const uint ExtMemStart = 0x08000000;
        public const uint ExtMemSize = 0x01000000;
        public const uint MapLimit = 0x08FFFFFF;

        private bool open;

        private VexoCard() { open = true; }

        /// <summary>Board address of port offset `port` (0x00-0xFF) of an I/O range.</summary>
        public static uint IoAddress(uint area, uint port)
        {
            return area + ((port >> 6) << 7) + (port & 0x3Fu);
        }

        public static VexoCard Open()
        {
            if (IntPtr.Size != 4 && Environment.OSVersion.Platform != PlatformID.Unix)
                throw new VexoException("VexoDLL.dll is 32-bit: build this program for x86");
            Check(VexoNative.cVexoOpen(), "cVexoOpen");
            return new VexoCard();
        }

        public void Dispose()
        {
            if (!open) return;
            open = false;
            VexoNative.cVexoClose();
        }

        public DeviceInfo GetDeviceInfo()
        {
            DeviceInfo info;
            Check(VexoNative.cVexoDeviceInfo(out info), "cVexoDeviceInfo");
            return info;
        }

        /// <summary>The first word of the card's configuration space: device << 16 | vendor.</summary>
        public uint PciConfig()
        {
            return (uint)Check(VexoNative.cVexoPciConfig(), "cVexoPciConfig");
        }

        public int GetInta()
        {
            return VexoNative.cVexoGetINTA();
        }

        public void Read(uint address, byte[] buffer)
        {
            Check(VexoNative.cVexoReadBlockByte(address, buffer, (uint)buffer.Length),
                  "cVexoReadBlockByte");
        }

        public void Read(uint address, ushort[] buffer)
        {
            Check(VexoNative.cVexoReadBlockShort(address, buffer, (uint)buffer.Length),
                  "cVexoReadBlockShort");
        }

        public void Read(uint address, uint[] buffer)
        {
            Check(VexoNative.cVexoReadBlockLong(address, buffer, (uint)buffer.Length),
                  "cVexoReadBlockLong");
        }

        public void Write(uint address, byte[] data)
        {
            Check(VexoNative.cVexoWriteBlockByte(address, data, (uint)data.Length),
                  "cVexoWriteBlockByte");
        }

        public void Write(uint address, ushort[] data)
        {
            Check(VexoNative.cVexoWriteBlockShort(address, data, (uint)data.Length),
                  "cVexoWriteBlockShort");
        }

        public void Write(uint address, uint[] data)
        {
            Check(VexoNative.cVexoWriteBlockLong(address, data, (uint)data.Length),
                  "cVexoWriteBlockLong");
        }

        private static int Check(int result, string function)
        {
            if (result == 0) throw new VexoException(function + " failed");
            return result;
        }
    }
}
