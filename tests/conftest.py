"""Fixtures shared by the in-process tests of the organiser's tools."""
import os

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
